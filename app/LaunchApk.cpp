#include "app/LaunchApk.h"

#include "runtime/AndroidRuntimeError.h"
#include "runtime/ApkInstaller.h"

#include <QFileInfo>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

QCoro::Task<int> launchApkAndReport(QString apkPath) {
    QString line;
    int status = 1;
    try {
        const QString package = co_await AndroidRuntimeCLI::installAndLaunch(QFileInfo(apkPath).absoluteFilePath());
        line = u"Vantle installed and launched "_s + package;
        status = 0;
    } catch (const AndroidRuntimeError& error) {
        line = u"Vantle APK launch failed: "_s + error.description();
    }
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
    co_return status;
}
