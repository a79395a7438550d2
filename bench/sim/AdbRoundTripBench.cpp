// The round trip of a no-op "adb -s emulator-5556 shell true" against the simulated device,
// through the stand-in adb and through Google's adb (its server running, the emulator's adbd
// on), plus the first command that has to start Google's server. Runs in a network namespace
// of its own, like the Android-facing test programs, and stops the adb server it started.
#include "../../tests/support/PrivateNetwork.h"
#include "platform/Locations.h"
#include "sim/SimInstaller.h"
#include "sim/SimLayout.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 30;

// Milliseconds for one run of `adb`, or -1 when it failed.
double timedRun(const QString& adb, const QStringList& arguments) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(adb, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

void report(const char* name, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-44s median %7.1f ms   p90 %7.1f ms   min %7.1f ms   (%zu runs)\n", name,
                samples[samples.size() / 2], samples[samples.size() * 9 / 10], samples.front(),
                samples.size());
}

} // namespace

int main(int argc, char** argv) {
    if (const std::string error = enterPrivateNetwork(); !error.empty()) {
        std::fprintf(stderr, "adb_roundtrip_bench: %s\n", error.c_str());
        return 1;
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QCoreApplication application(argc, argv);
    const QString tools = QCoreApplication::applicationDirPath() + u"/../../sim"_s;
    if (const QString error =
            SimInstaller::install({Locations::runtime(), tools, 35, 300, 100, SimAdb::standIn});
        !error.isEmpty()) {
        std::fprintf(stderr, "adb_roundtrip_bench: %s\n", qPrintable(error));
        return 1;
    }
    const QString sdk = SimLayout::sdkRoot(Locations::runtime());
    const QString standIn = sdk + u"/platform-tools/adb"_s;
    const QString google = u"/usr/bin/adb"_s;
    const QStringList shellTrue{u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"true"_s};

    QProcess emulator;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ANDROID_SDK_ROOT"_s, sdk);
    environment.insert(u"ANDROID_AVD_HOME"_s, SimLayout::avdHome(Locations::runtime()));
    emulator.setProcessEnvironment(environment);
    emulator.start(sdk + u"/emulator/emulator"_s,
                   {u"@"_s + SimLayout::avdName(35), u"-port"_s, u"5556"_s, u"-no-window"_s});
    const double firstCommand = timedRun(google, {u"-s"_s, u"emulator-5556"_s, u"wait-for-device"_s});
    int status = 0;
    if (firstCommand < 0) {
        std::fprintf(stderr, "adb_roundtrip_bench: Google's adb did not see the device\n");
        status = 1;
    } else {
        std::printf("first Google adb command (starts its server, waits for boot): %.1f ms\n", firstCommand);
        for (const auto& [name, adb] : {std::pair{"adb shell true, stand-in adb", standIn},
                                        std::pair{"adb shell true, Google's adb (server running)", google}}) {
            std::vector<double> samples;
            for (int i = 0; i <= rounds; ++i) {
                const double ms = timedRun(adb, shellTrue);
                if (ms < 0) {
                    std::fprintf(stderr, "adb_roundtrip_bench: %s failed\n", name);
                    status = 1;
                    break;
                }
                if (i > 0) samples.push_back(ms); // the first run warms caches
            }
            if (!samples.empty()) report(name, samples);
        }
    }
    timedRun(google, {u"kill-server"_s});
    emulator.terminate();
    emulator.waitForFinished(5000);
    return status;
}
