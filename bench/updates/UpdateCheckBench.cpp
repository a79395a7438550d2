// An update check of 50 apps against two repositories on loopback (served from a thread of their
// own, as real ones are elsewhere), with the installed version codes read from a warm simulated
// device (one adb call): the wall time of the whole check and the longest time the main thread's event loop
// went without running a 1 ms timer. Prints its figures; run from a build folder:
// bench/updates/update_check_bench.
#include "bench/support/PrivateAndroidNetwork.h"
#include "bench/support/SimulatedAndroid.h"
#include "bench/support/StopsAndroid.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "platform/Locations.h"
#include "platform/linux/SettingsFile.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimInstaller.h"
#include "tests/support/LoopbackHttpServer.h"
#include "updates/AppUpdates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int appCount = 50;
constexpr int rounds = 5;
const QString installedPackage = u"org.vantle.sim.notes"_s; // the device's answer for every app

QString packageName(int i) {
    return u"org.example.app%1"_s.arg(i, 2, 10, QLatin1Char('0'));
}

// Both repositories on one server thread; every package gets a newer version from one of them.
class Repositories {
public:
    Repositories() {
        m_anchor.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_anchor,
            [this] {
                m_fdroid = std::make_unique<LoopbackHttpServer>();
                m_izzy = std::make_unique<LoopbackHttpServer>();
                for (int i = 0; i < appCount; ++i) {
                    const QByteArray package = packageName(i).toUtf8();
                    const QByteArray answer = R"({"packageName":")" + package +
                                              R"(","suggestedVersionCode":)" + QByteArray::number(4 + i % 3) +
                                              R"(,"packages":[{"versionName":"1.)" + QByteArray::number(i) +
                                              R"(","versionCode":)" + QByteArray::number(4 + i % 3) + "}]}";
                    m_fdroid->serve("/api/v1/packages/" + package, {200, answer});
                    m_izzy->serve("/fdroid/api/v1/packages/" + package, {i % 2 ? 200 : 404, answer});
                }
            },
            Qt::BlockingQueuedConnection);
    }
    ~Repositories() {
        QMetaObject::invokeMethod(
            &m_anchor,
            [this] {
                m_fdroid.reset();
                m_izzy.reset();
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    QString fdroid() const { return m_fdroid->url(QString()).toString(); }
    QString izzy() const { return m_izzy->url(u"/fdroid"_s).toString(); }

private:
    QThread m_thread;
    QObject m_anchor;
    std::unique_ptr<LoopbackHttpServer> m_fdroid, m_izzy;
};

struct Figures {
    double totalMs;
    double longestStallMs;
};

// One forced check; the event loop's longest gap is measured by a 1 ms timer that records the
// time between its runs.
Figures measure(AppUpdates& updates, AppLibraryStore& store) {
    QElapsedTimer clock, sinceTick;
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    ticker.callOnTimeout([&] {
        longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
    });
    clock.start();
    sinceTick.start();
    ticker.start();
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    while (updates.isChecking())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double total = double(clock.nsecsElapsed()) / 1e6;
    longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
    return {total, longest};
}

} // namespace

int main(int argc, char** argv) {
    const PrivateAndroidNetwork network("update_check_bench");
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QCoreApplication application(argc, argv);
    const StopsAndroid stopsAndroid; // before the home folder goes
    VantleSettings::install(std::make_shared<SettingsFile>(home.filePath(u"settings.json"_s)));
    if (!layOutSimulatedAndroid("update_check_bench")) return 1;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    AndroidRuntimeCLI::adbDevice({u"install"_s, u"-r"_s, QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk")});

    Repositories repositories;
    qputenv("VANTLE_FDROID_URL", repositories.fdroid().toUtf8());
    qputenv("VANTLE_IZZYONDROID_URL", repositories.izzy().toUtf8());
    AppLibraryStore store;
    QList<MobileApp> apps;
    for (int i = 0; i < appCount; ++i) {
        MobileApp app;
        app.id = QUuid::createUuid();
        app.name = u"App %1"_s.arg(i);
        app.sourcePath = home.filePath(packageName(i) + u".apk"_s);
        app.bundleIdentifier = packageName(i);
        apps.append(app);
    }
    store.setApps(apps);

    // The device's real answer: its package list, read through adb; every app counts as the one
    // installed there.
    AppUpdates onDevice(
        {[](const QStringList& packages) {
             const std::optional<QHash<QString, qint64>> device =
                 AppUpdates::installedVersionCodes(QStringList(packages.size(), installedPackage));
             QHash<QString, qint64> codes;
             for (const QString& package : packages)
                 codes.insert(package, device.value_or(QHash<QString, qint64>()).value(installedPackage));
             return codes;
         },
         {},
         {}});
    // The same check without the device, to see what the repositories and Vantle cost by themselves.
    AppUpdates offDevice({[](const QStringList& packages) {
                              QHash<QString, qint64> codes;
                              for (const QString& package : packages)
                                  codes.insert(package, 3);
                              return codes;
                          },
                          {},
                          {}});

    std::vector<Figures> withDevice, withoutDevice;
    for (int round = 0; round < rounds; ++round) {
        withDevice.push_back(measure(onDevice, store));
        withoutDevice.push_back(measure(offDevice, store));
    }
    const auto report = [](const char* title, std::vector<Figures> figures, const AppUpdates& updates) {
        std::sort(figures.begin(), figures.end(), [](auto& a, auto& b) { return a.totalMs < b.totalMs; });
        double worstStall = 0;
        for (const Figures& f : figures)
            worstStall = std::max(worstStall, f.longestStallMs);
        std::printf("  %-34s %7.1f ms median (%7.1f .. %7.1f), longest event-loop stall %5.1f ms; %s\n",
                    title, figures[figures.size() / 2].totalMs, figures.front().totalMs,
                    figures.back().totalMs, worstStall, qPrintable(updates.lastMessage()));
    };
    std::printf("update check of %d apps against two loopback repositories (%d requests), %d rounds\n",
                appCount, appCount * 2, rounds);
    report("with the device's package list (adb):", withDevice, onDevice);
    report("without the device:", withoutDevice, offDevice);
    return 0;
}
