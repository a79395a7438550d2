// What Google's adb prints where Vantle reads it. The first adb call of a session, whose server is
// not running: that call starts the server, which prints "* daemon not running; starting now at
// tcp:5037" and "* daemon started successfully" into the output Vantle reads, and meets the
// running emulator only after it has answered. A failed push install: adb's transcript, then the
// package manager's answer.
#include "core/WaitFor.h"
#include "platform/Locations.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimControl.h"
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

TEST(GoogleAdbOutputTest, TheFirstCallOfASessionReadsTheRunningDevice) {
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

TEST(GoogleAdbOutputTest, AFailedInstallSaysThePackageManagersAnswerAlone) {
    ScopedSettings settings;
    SimulatedAndroidHome android;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    ASSERT_EQ(SimControl(Locations::runtime(), 35)
                  .setFault(u"nextInstallFailure"_s, u"INSTALL_FAILED_INSUFFICIENT_STORAGE"_s),
              QString());
    QString description;
    try {
        Coroutines::waitFor(
            AndroidRuntimeCLI::installAndLaunch(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk")));
    } catch (const AndroidRuntimeError& error) {
        description = error.description();
    }
    EXPECT_EQ(description, u"Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]"_s);

    // Google's adb 1.0.41 as it printed a refused push install.
    EXPECT_EQ(
        AndroidRuntimeCLI::installFailureText(
            u"Performing Push Install\n/tmp/notes.apk: 1 file pushed, 0 skipped. 9.1 MB/s (845 bytes in "
            u"0.000s)\n\tpkg: /data/local/tmp/notes.apk\nFailure [INSTALL_FAILED_VERSION_DOWNGRADE: "
            u"Downgrade detected]\n"_s),
        u"Failure [INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected]"_s);
    EXPECT_EQ(
        AndroidRuntimeCLI::installFailureText(u"adb: failed to stat /x.apk: No such file or directory\n"_s),
        u"adb: failed to stat /x.apk: No such file or directory"_s);
    EXPECT_EQ(AndroidRuntimeCLI::installFailureText(u"  something else\n"_s), u"something else"_s);
}

} // namespace
