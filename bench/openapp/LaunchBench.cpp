// From a click to the app's first picture on screen, with a warm simulated Android and the app
// already installed: the whole open-app flow (install check, window, stream connection, first
// decoded frame, first paint), broken down by step. Prints medians over a few rounds, first through
// Vantle's stand-in adb, then through Google's adb (Debian's) against the same running device when
// the machine has it. Runs in a network namespace of its own (the device's and adb's ports are
// fixed) and stops the adb server it started; run from a build folder: bench/openapp/launch_bench.
#include "apk/ApkFile.h"
#include "bench/support/PrivateAndroidNetwork.h"
#include "bench/support/StopsAndroid.h"
#include "core/AppLibraryStore.h"
#include "core/VantleEvents.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "openapp/OpenAppFlow.h"
#include "platform/Locations.h"
#include "platform/linux/SettingsFile.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimInstaller.h"
#include "stream/AndroidStreamClient.h"
#include "stream/AndroidVideoView.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int rounds = 8;

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

double ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One open, as points in time: the click, the window (install check done), the stream client's
// steps, the first picture on screen.
struct Round {
    Clock::time_point clicked, windowOpened, started, pushed, tunnelled, serverStarted, accepted, firstFrame,
        shown;
};

struct Step {
    const char* name;
    Clock::time_point Round::*from;
    Clock::time_point Round::*to;
};
const Step steps[] = {
    {"install check (installAndLaunch)", &Round::clicked, &Round::windowOpened},
    {"window and client created, thread started", &Round::windowOpened, &Round::started},
    {"adb push of the server", &Round::started, &Round::pushed},
    {"listener + adb reverse (tunnel)", &Round::pushed, &Round::tunnelled},
    {"server start (spawn adb shell)", &Round::tunnelled, &Round::serverStarted},
    {"device connects (accept)", &Round::serverStarted, &Round::accepted},
    {"first frame decoded", &Round::accepted, &Round::firstFrame},
    {"first frame on screen", &Round::firstFrame, &Round::shown},
    {"total", &Round::clicked, &Round::shown},
};

// Opens the app `rounds` times (after one uncounted round) and prints the medians of each step.
bool measure(AppLibraryStore& store, OpenAppFlow& flow, const MobileApp& app, const char* adbName) {
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    Clock::time_point opened;
    QObject observer;
    EventCenter::shared().observe(VantleEvent::sessionsChanged, &observer, [&](const QVariantMap&) {
        if (registry.session(app.id)) opened = Clock::now();
    });

    std::vector<Round> measured;
    for (int round = 0; round <= rounds; ++round) { // round 0 warms the caches and is not counted
        Round r;
        bool shown = false;
        r.clicked = Clock::now();
        flow.launch(app);
        if (!waitUntil([&] { return registry.session(app.id) != nullptr; }, 20000)) {
            std::fprintf(stderr, "launch_bench: no window (%s)\n", qPrintable(store.statusMessage()));
            return false;
        }
        AndroidWindowSession* session = registry.session(app.id);
        r.windowOpened = opened;
        QObject::connect(session->videoView(), &AndroidVideoView::frameShown, &observer, [&] {
            if (!shown) r.shown = Clock::now();
            shown = true;
        });
        if (!waitUntil([&] { return shown; }, 20000)) {
            std::fprintf(stderr, "launch_bench: no frame on screen\n");
            return false;
        }
        const AndroidStreamClient::Timeline stream = session->client()->timeline();
        r.started = stream.started;
        r.pushed = stream.pushed;
        r.tunnelled = stream.tunnelled;
        r.serverStarted = stream.serverStarted;
        r.accepted = stream.accepted;
        r.firstFrame = stream.firstFrame;
        session->close(u"close button"_s);
        waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
        if (round > 0) measured.push_back(r);
    }

    std::printf("launch → first frame on screen, warm simulated Android, app installed, %s (median of %d)\n",
                adbName, rounds);
    for (const Step& step : steps) {
        std::vector<double> values;
        for (const Round& r : measured)
            values.push_back(ms(r.*step.from, r.*step.to));
        std::printf("  %-42s %8.1f ms\n", step.name, median(values));
    }
    // Waiting for adb and the device: the install check (its adb probes), push, reverse, the
    // device's connect and its first encoded frame. The rest is Vantle's own: the window, the
    // client, spawning the server, reading, decoding and painting.
    std::vector<double> external, own;
    for (const Round& r : measured) {
        const double waiting =
            ms(r.clicked, r.windowOpened) + ms(r.started, r.tunnelled) + ms(r.serverStarted, r.firstFrame);
        external.push_back(waiting);
        own.push_back(ms(r.clicked, r.shown) - waiting);
    }
    std::printf("  %-42s %8.1f ms\n", "waiting for adb and the device", median(external));
    std::printf("  %-42s %8.1f ms\n", "Vantle's own share", median(own));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const PrivateAndroidNetwork network("launch_bench");
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const StopsAndroid stopsAndroid; // before the home folder goes
    VantleSettings::install(std::make_shared<SettingsFile>(home.filePath(u"settings.json"_s)));
    VantleSettings::set(u"VantleForwardAudio"_s, false); // no sound device on a build machine
    VantleSettings::set(u"VantleIdleShutdownMinutes"_s, 0.0);
    qputenv("VANTLE_BUNDLE", VANTLE_BUILD_BRIDGE);
    const QString tools = QCoreApplication::applicationDirPath() + u"/../../sim"_s;
    if (const QString error =
            SimInstaller::install({Locations::runtime(), tools, 35, 300, 100, SimAdb::standIn});
        !error.isEmpty()) {
        std::fprintf(stderr, "launch_bench: %s\n", qPrintable(error));
        return 1;
    }

    AppLibraryStore store(AppLibraryStore::Seams{{}, &ApkFile::read});
    OpenAppFlow flow(store);
    store.addFiles({QUrl::fromLocalFile(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk"))});
    if (!waitUntil([&] { return !store.apps().isEmpty(); }, 5000)) return 1;
    const MobileApp app = store.apps().first();
    // Warm: Android booted, the app installed, once opened.
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(app.sourcePath));

    bool ok = measure(store, flow, app, "stand-in adb");
    const QString google = SimInstaller::googleAdb();
    if (google.isEmpty()) {
        std::printf("Google's adb is not installed (Debian package adb): measured the stand-in only\n");
    } else if (ok) {
        // Same device, still running: only platform-tools/adb changes.
        SimInstallRequest request{Locations::runtime(), tools, 35, 300, 100};
        if (const QString error = SimInstaller::install(request); !error.isEmpty()) {
            std::fprintf(stderr, "launch_bench: %s\n", qPrintable(error));
            return 1;
        }
        AndroidRuntimeCLI::runADB({u"wait-for-device"_s});
        ok = measure(store, flow, app, "Google's adb");
    }
    return ok ? 0 : 1;
}
