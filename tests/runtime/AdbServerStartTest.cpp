// The first adb call of a session, against Google's adb whose server is not running: that call
// starts the server, which prints "* daemon not running; starting now at tcp:5037" and "* daemon
// started successfully" into the output Vantle reads, and meets the running emulator only after
// it has answered.
#include "core/WaitFor.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimInstaller.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

void stopAdbServer() {
    ASSERT_EQ(QProcess::execute(SimInstaller::googleAdb(), {u"kill-server"_s}), 0);
}

TEST(AdbServerStartTest, TheFirstCallOfASessionReadsTheRunningDevice) {
    if (SimInstaller::googleAdb().isEmpty()) GTEST_SKIP() << "Google's adb is not installed";
    ScopedSettings settings;
    SimulatedAndroidHome android;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());

    struct Probe {
        const char* name;
        std::function<bool()> holds;
    };
    const Probe probes[] = {
        {"deviceIsBooted", [] { return AndroidRuntimeCLI::deviceIsBooted(); }},
        {"deviceIsListed", [] { return AndroidRuntimeCLI::deviceIsListed(); }},
        {"androidIsHealthy", [] { return AndroidRuntimeCLI::androidIsHealthy(); }},
        {"runningAPI", [] { return AndroidRuntimeCLI::runningAPI() == 35; }},
        {"runADB output",
         [] {
             return AndroidRuntimeCLI::runADB({u"shell"_s, u"echo"_s, u"hi"_s}) == u"hi\n"_s;
         }},
        {"adbDevice output",
         [] {
             return AndroidRuntimeCLI::adbDevice({u"shell"_s, u"echo"_s, u"hello"_s}) == u"hello\n"_s;
         }},
    };
    for (const Probe& probe : probes) {
        stopAdbServer();
        EXPECT_TRUE(probe.holds()) << probe.name;
    }

    // A session that begins with the open-app flow adopts the running emulator, starting nothing.
    stopAdbServer();
    const MainLogSince since;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(since.count(u"starting emulator"_s), 0) << since.lines().join(u'\n').toStdString();
}

} // namespace
