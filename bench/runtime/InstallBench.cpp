// Vantle's own cost around a warm simulated device: installAndLaunch of an APK that is already
// installed (the fast path) and of a new one, against the time the device's adb calls take by
// themselves. Prints its figures; run from a build folder: bench/runtime/install_bench.
#include "bench/support/PrivateAndroidNetwork.h"
#include "bench/support/SimulatedAndroid.h"
#include "bench/support/StopsAndroid.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "platform/ChildProcess.h"
#include "platform/Locations.h"
#include "platform/linux/SettingsFile.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimInstaller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 15;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename F> double millis(F&& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// The device's share: the same adb calls, run one after another with nothing around them.
double deviceCallsMs(const QList<QStringList>& calls) {
    return millis([&] {
        for (const QStringList& arguments : calls) {
            ChildProcess process;
            process.program = AndroidRuntimePaths::current().adb();
            process.arguments = arguments;
            process.run();
        }
    });
}

QStringList device(const QStringList& arguments) {
    return QStringList{u"-s"_s, u"emulator-5556"_s} + arguments;
}

} // namespace

int main(int argc, char** argv) {
    const PrivateAndroidNetwork network("install_bench");
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QCoreApplication application(argc, argv);
    const StopsAndroid stopsAndroid; // before the home folder goes
    VantleSettings::install(std::make_shared<SettingsFile>(home.filePath(u"settings.json"_s)));
    if (!layOutSimulatedAndroid("install_bench")) return 1;
    const QString apk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");
    const QString package = u"org.vantle.sim.notes"_s;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());

    std::vector<double> fresh, fast, freshDevice, fastDevice;
    for (int round = 0; round < rounds; ++round) {
        // A new file each round: a new path has no installed record, so it is installed.
        const QString copy = home.filePath(u"notes-%1.apk"_s.arg(round));
        QFile::copy(apk, copy);
        fresh.push_back(millis([&] { Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(copy)); }));
        fast.push_back(millis([&] { Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(copy)); }));
    }
    // The adb calls each path makes: the boot probe before and in ensureRuntime, the API and health
    // probes, then "pm path" (fast path) or the package lists, install and activity check.
    const QList<QStringList> probes{device({u"shell"_s, u"getprop"_s, u"sys.boot_completed"_s}),
                                    device({u"shell"_s, u"getprop"_s, u"sys.boot_completed"_s}),
                                    device({u"shell"_s, u"getprop"_s, u"ro.build.version.sdk"_s}),
                                    device({u"shell"_s, u"service"_s, u"check"_s, u"package"_s})};
    for (int round = 0; round < rounds; ++round) {
        fastDevice.push_back(
            deviceCallsMs(probes + QList<QStringList>{device({u"shell"_s, u"pm"_s, u"path"_s, package})}));
        freshDevice.push_back(deviceCallsMs(
            probes + QList<QStringList>{device({u"shell"_s, u"pm"_s, u"list"_s, u"packages"_s, u"-3"_s}),
                                        device({u"install"_s, u"--no-streaming"_s, u"-r"_s, apk}),
                                        device({u"shell"_s, u"pm"_s, u"list"_s, u"packages"_s, u"-3"_s}),
                                        device({u"shell"_s, u"cmd"_s, u"package"_s, u"resolve-activity"_s,
                                                u"--brief"_s, package})}));
    }

    std::printf("installAndLaunch on a warm simulated device, median of %d rounds\n", rounds);
    std::printf(
        "  already installed: %7.1f ms total, %7.1f ms in the device's adb calls, %6.1f ms Vantle's own\n",
        median(fast), median(fastDevice), median(fast) - median(fastDevice));
    std::printf(
        "  new APK:           %7.1f ms total, %7.1f ms in the device's adb calls, %6.1f ms Vantle's own\n",
        median(fresh), median(freshDevice), median(fresh) - median(freshDevice));
    return 0;
}
