// Ending Vantle's emulator ends only Vantle's: the emulator of its own SDK and virtual devices on
// port 5556, never the user's other emulators, nor another Vantle home's running beside it.
#include "core/WaitFor.h"
#include "runtime/EmulatorProcesses.h"
#include "runtime/RuntimeBoot.h"
#include "support/DeviceFiles.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(OwnEmulator, OnlyVantlesDeviceOnItsPortFromItsSdkCounts) {
    const AndroidRuntimePaths paths{u"/home/u/.local/share/Vantle/Runtime/sdk"_s, u"/avd"_s, u"Vantle"_s,
                                    true, 35};
    const QString own = paths.sdkRoot + u"/emulator/qemu/linux-x86_64/qemu-system-x86_64"_s;
    const QString launcher = paths.sdkRoot + u"/emulator/emulator"_s;
    struct Case {
        const char* what;
        QString executable;
        QString arguments; // split at spaces
        bool own;
    };
    const QList<Case> cases{
        {"the emulator as launched", launcher, u"@Vantle -port 5556"_s, true},
        {"its qemu", own, u"-avd Vantle -port 5556 -no-window"_s, true},
        {"another Android version of Vantle", own, u"-avd Vantle-34 -port 5556"_s, true},
        {"the user's own device", own, u"-avd Pixel_8 -port 5556"_s, false},
        {"another port", own, u"-avd Vantle -port 5554"_s, false},
        {"another SDK", u"/opt/android/emulator/qemu-system-x86_64"_s, u"@Vantle -port 5556"_s, false},
        {"a look-alike command line", u"/usr/bin/python3"_s, launcher + u" @Vantle -port 5556"_s, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AndroidRuntimeCLI::isOwnEmulator({1, c.executable, c.arguments.split(u' ')}, paths), c.own)
            << c.what;
}

TEST(OwnEmulator, EndingVantlesEmulatorLeavesAnotherHomesRunning) {
    ScopedSettings settings;
    SimulatedAndroidHome android;
    // Another home's Vantle with the same virtual device name, started first (on the next console
    // port: the loopback ports of one machine cannot be shared; the table above covers the rest).
    QTemporaryDir otherHome;
    AndroidRuntimePaths other;
    {
        const ScopedEnvironment home("VANTLE_HOME", otherHome.path());
        ASSERT_EQ(SimulatedAndroidHome::install(35), QString());
        other = AndroidRuntimePaths::current();
    }
    QProcess otherEmulator;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ANDROID_SDK_ROOT"_s, other.sdkRoot);
    environment.insert(u"ANDROID_AVD_HOME"_s, *other.avdHome);
    otherEmulator.setProcessEnvironment(environment);
    otherEmulator.start(other.emulator(), {u'@' + other.avdName, u"-port"_s, u"5558"_s, u"-no-window"_s});
    ASSERT_TRUE(otherEmulator.waitForStarted());

    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    ASSERT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    ASSERT_EQ(otherEmulator.state(), QProcess::Running) << otherEmulator.readAllStandardError().constData();
    const auto emulatorsOf = [](const AndroidRuntimePaths& paths) {
        int count = 0;
        for (const RunningProcess& process : currentUserProcesses())
            count += AndroidRuntimeCLI::isOwnEmulator(process, paths) ? 1 : 0;
        return count;
    };
    ASSERT_EQ(emulatorsOf(AndroidRuntimePaths::current()), 1);

    EXPECT_EQ(AndroidRuntimeCLI::endOwnEmulator(), 1);
    EXPECT_TRUE(waitUntil([&] { return emulatorsOf(AndroidRuntimePaths::current()) == 0; }, 10'000));
    EXPECT_FALSE(AndroidRuntimeCLI::deviceIsListed());
    EXPECT_FALSE(otherEmulator.waitForFinished(500)) << "the other home's emulator was ended";
    EXPECT_EQ(otherEmulator.state(), QProcess::Running);
    otherEmulator.terminate();
    otherEmulator.waitForFinished(10'000);
}

} // namespace
