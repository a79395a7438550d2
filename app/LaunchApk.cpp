#include "app/LaunchApk.h"

#include "core/VantleError.h"
#include "runtime/ApkInstaller.h"

#include <QFileInfo>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

QCoro::Task<int> launchApkAndReport(QString apkPath) {
    QString line;
    int status = 1;
    try {
        QCoro::Task<QString> launching =
            AndroidRuntimeCLI::installAndLaunch(QFileInfo(apkPath).absoluteFilePath());
        const QString package = co_await std::move(launching);
        line = u"Vantle installed and launched "_s + package;
        status = 0;
    } catch (const std::exception& error) {
        line = u"Vantle APK launch failed: "_s + VantleError::describe(error);
    }
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
    co_return status;
}
