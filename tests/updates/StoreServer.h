#pragma once

// F-Droid and IzzyOnDroid as two loopback HTTP servers in the repositories' layout, named to Vantle
// through VANTLE_FDROID_URL and VANTLE_IZZYONDROID_URL for the object's lifetime.
#include "LoopbackHttpServer.h"
#include "support/DeviceFiles.h"
#include "updates/UpdateSource.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

struct StoreServers {
    LoopbackHttpServer fdroid;
    LoopbackHttpServer izzy;
    ScopedEnvironment fdroidBase{"VANTLE_FDROID_URL", fdroid.url(QStringLiteral("")).toString()};
    ScopedEnvironment izzyBase{"VANTLE_IZZYONDROID_URL", izzy.url(QStringLiteral("/fdroid")).toString()};

    LoopbackHttpServer& server(UpdateSource source) { return source == UpdateSource::fdroid ? fdroid : izzy; }
    static QByteArray prefix(UpdateSource source) { return source == UpdateSource::fdroid ? "" : "/fdroid"; }
    static QByteArray apiPath(UpdateSource source, const QString& package) {
        return prefix(source) + "/api/v1/packages/" + package.toUtf8();
    }
    static QByteArray apkPath(UpdateSource source, const QString& package, qint64 code) {
        return prefix(source) + "/repo/" + package.toUtf8() + '_' + QByteArray::number(code) + ".apk";
    }

    // The package API's answer as the repositories write it: the suggested code and the versions
    // they hold, newest first.
    static QByteArray answer(const QString& package, qint64 suggested, const QString& versionName) {
        return QStringLiteral(
                   R"({"packageName":"%1","suggestedVersionCode":%2,"packages":[{"versionName":"%3",)"
                   R"("versionCode":%2},{"versionName":"0.9","versionCode":%4}]})")
            .arg(package, QString::number(suggested), versionName, QString::number(suggested - 1))
            .toUtf8();
    }
    void offer(UpdateSource source, const QString& package, qint64 code, const QString& versionName) {
        server(source).serve(apiPath(source, package), {200, answer(package, code, versionName)});
    }
    void fault(UpdateSource source, const QString& package, LoopbackHttpServer::Answer answer) {
        server(source).serve(apiPath(source, package), std::move(answer));
    }
    void serveApk(UpdateSource source, const QString& package, qint64 code, const QString& file) {
        QFile apk(file);
        if (!apk.open(QIODevice::ReadOnly)) ADD_FAILURE() << "cannot read " << file.toStdString();
        server(source).serve(apkPath(source, package, code), {200, apk.readAll()});
    }
    qsizetype requestsFor(UpdateSource source, const QByteArray& path) {
        return std::count_if(server(source).requests.cbegin(), server(source).requests.cend(),
                             [&](const LoopbackHttpServer::Request& r) { return r.path == path; });
    }
    qsizetype requestCount() const { return fdroid.requests.size() + izzy.requests.size(); }
};

// Lets the servers' stalled ("slow") answers go once no new request came for 350 ms. The server
// sends one more byte 250 ms into a stall; releasing before that would put it after the rest.
struct SlowAnswers {
    StoreServers& stores;
    QTimer timer;
    QElapsedTimer quiet;
    qsizetype seen = -1;
    explicit SlowAnswers(StoreServers& servers)
        : stores(servers) {
        timer.callOnTimeout([this] {
            if (stores.requestCount() != seen) {
                seen = stores.requestCount();
                quiet.start();
            } else if (quiet.elapsed() > 350) {
                stores.fdroid.release();
                stores.izzy.release();
            }
        });
        timer.start(50);
    }
};
