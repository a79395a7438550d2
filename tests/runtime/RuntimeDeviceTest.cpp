// Boot, install and device settings against the simulated Android, as Vantle drives a real one.
#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"
#include "platform/DetachedProcess.h"
#include "platform/Virtualisation.h"
#include "runtime/ApkInstaller.h"
#include "sim/SimControl.h"
#include "support/DeviceFiles.h"
#include "support/SimulatedAndroid.h"

#include <QFile>
#include <QFuture>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");
const QString headlessApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/headless.apk");

class RuntimeDeviceTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    const MainLogSince since;

    void SetUp() override {
        const auto record = [](const QString& step) { VantleLog::main().write(u"hook:"_s + step); };
        AndroidRuntimeCLI::setBootHooks(
            {[=](const AndroidRuntimePaths& paths) { record(u"hw "_s + paths.avdName); },
             [=] { record(u"dark"_s); }, [=] { record(u"volume"_s); }, [=] { record(u"adblock"_s); }});
    }
    void TearDown() override { AndroidRuntimeCLI::setBootHooks({}); }

    QStringList hooks() const { return since.lines().filter(u"hook:"_s); }
    const QStringList standardState{u"hook:dark"_s, u"hook:volume"_s, u"hook:adblock"_s};
    qsizetype logCount(const QString& prefix) const { return since.count(prefix); }
    static QString shell(const QString& command) {
        return AndroidRuntimeCLI::adbDevice({u"shell"_s, command}).trimmed();
    }
    static QString installError(const QString& apk) {
        return thrownDescription<AndroidRuntimeError>(
            [&] { Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)); });
    }
    static void killAndWait() {
        AndroidRuntimeCLI::killEmulator(); // as the idle shutdown does
        ASSERT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000));
    }
    // An emulator left running by an earlier Vantle: started outside this process.
    static void startEmulatorElsewhere(bool (*ready)()) {
        const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(35);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"ANDROID_AVD_HOME"_s, *paths.avdHome);
        const auto started = DetachedProcess::start(
            paths.emulator(), {u"@Vantle"_s, u"-port"_s, u"5556"_s, u"-no-window"_s}, environment);
        ASSERT_TRUE(started.pid) << started.error.toStdString();
        ASSERT_TRUE(waitUntil(ready, 10000));
    }
};

// One boot of the managed Android, walked through what Vantle does with a running device.
TEST_F(RuntimeDeviceTest, ABootedDeviceThroughItsLife) {
    std::optional<::testing::ScopedTrace> trace;
    const auto step = [&trace](const char* name) { trace.emplace(__FILE__, __LINE__, name); };
    step("invalid package names are refused before Android is started");
    for (const auto& [apk, name] : {std::pair{"bad-name-semicolon.apk", "com.a;touch pwned"},
                                    std::pair{"bad-name-dotdot.apk", "../../tmp/x"}}) {
        const QString path = QStringLiteral(VANTLE_SIM_TEST_DATA "/") + QLatin1StringView(apk);
        EXPECT_EQ(installError(path), u"The APK's package name \""_s + QLatin1StringView(name) +
                                          u"\" is not a valid Android package name"_s);
        EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(path));
    }
    EXPECT_FALSE(AndroidRuntimeCLI::deviceIsListed());
    EXPECT_FALSE(AndroidRuntimeCLI::discoverInstalledApps({})); // not booted: no answer

    step("a cold boot shared by two callers brings the standard state once");
    auto first = AndroidRuntimeCLI::ensureRuntime();
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    Coroutines::waitFor(std::move(first));
    EXPECT_TRUE(AndroidRuntimeCLI::androidIsHealthy());
    EXPECT_EQ(hooks(), QStringList{u"hook:hw Vantle"_s} + standardState);
    const QString sdk = AndroidRuntimePaths::managed(35).sdkRoot;
    EXPECT_EQ(logCount(u"starting emulator avd=Vantle managed=true sdk="_s + sdk), 1);
    EXPECT_EQ(logCount(u"android network validated"_s), 1);
    // A ready device is only probed: no launch, no standard state applied again.
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(hooks().size(), 4);

    step("a session's first adb call (its server prints \"* daemon not running…\") reads the device");
    const QStringList echo{u"shell"_s, u"echo"_s, u"hi"_s};
    const std::function<bool()> probes[] = {AndroidRuntimeCLI::deviceIsBooted,
                                            AndroidRuntimeCLI::deviceIsListed,
                                            AndroidRuntimeCLI::androidIsHealthy,
                                            [] { return AndroidRuntimeCLI::runningAPI() == 35; },
                                            [&] { return AndroidRuntimeCLI::runADB(echo) == u"hi\n"_s; },
                                            [&] { return AndroidRuntimeCLI::adbDevice(echo) == u"hi\n"_s; },
                                            [this] { // the open-app flow adopts the running emulator
                                                Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
                                                return logCount(u"starting emulator"_s) == 1;
                                            }};
    for (int probe = 0; probe < 7 && !SimInstaller::googleAdb().isEmpty(); ++probe) {
        ASSERT_EQ(QProcess::execute(SimInstaller::googleAdb(), {u"kill-server"_s}), 0);
        EXPECT_TRUE(probes[probe]()) << "probe " << probe;
    }

    step("an unchanged APK is installed only once");
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"Notes.apk"_s);
    ASSERT_TRUE(QFile::copy(notesApk, apk));
    const auto installs = [&] {
        EXPECT_EQ(Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)), u"org.vantle.sim.notes"_s);
        return logCount(u"installed package=org.vantle.sim.notes install+resolve="_s);
    };
    EXPECT_EQ(installs(), 1);
    EXPECT_EQ(AndroidRuntimeCLI::knownPackage(apk), u"org.vantle.sim.notes"_s);
    EXPECT_EQ(installs(), 1);
    EXPECT_EQ(logCount(u"already installed package=org.vantle.sim.notes check="_s), 1);
    // A new modification time means a new file: it is installed over the old one.
    ASSERT_TRUE(writeFile(apk, readFile(apk)));
    EXPECT_EQ(installs(), 2);
    // Uninstalled inside Android: "pm path" finds nothing, so it is installed again.
    AndroidRuntimeCLI::adbDevice({u"uninstall"_s, u"org.vantle.sim.notes"_s});
    EXPECT_EQ(installs(), 3);

    step("failed installs say the package manager's answer and leave no installed record");
    const QString corrupt = folder.filePath(u"corrupt.apk"_s);
    ASSERT_TRUE(writeFile(corrupt, "PK\x03\x04 this is no zip"));
    const QString failure = installError(corrupt);
    EXPECT_TRUE(failure.contains(u"INSTALL_"_s) || failure.contains(u"Failure"_s)) << failure.toStdString();
    EXPECT_EQ(installError(headlessApk), u"No launchable activity found for org.vantle.sim.headless"_s);
    SimControl control(Locations::runtime(), 35);
    control.setFault(u"nextInstallFailure"_s, u"INSTALL_FAILED_INSUFFICIENT_STORAGE"_s);
    EXPECT_EQ(installError(notesApk), u"Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]"_s);
    for (const QString& refused : {corrupt, headlessApk, notesApk})
        EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(refused)) << refused.toStdString();

    step("discovery copies out launchable apps once");
    AndroidRuntimeCLI::adbDevice({u"install"_s, headlessApk});
    const auto found = AndroidRuntimeCLI::discoverInstalledApps({});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->installed, (QSet<QString>{u"org.vantle.sim.notes"_s, u"org.vantle.sim.headless"_s}));
    ASSERT_EQ(found->apps.size(), 1); // the headless app has nothing to launch
    const AndroidRuntimeCLI::DiscoveredApp& notes = found->apps.first();
    EXPECT_EQ(notes.package, u"org.vantle.sim.notes"_s);
    EXPECT_EQ(notes.apk, Locations::packages() + u"/org.vantle.sim.notes.apk"_s);
    EXPECT_FALSE(notes.name.isEmpty());
    EXPECT_EQ(AndroidRuntimeCLI::knownPackage(notes.apk), notes.package); // the next open is fast
    const QDateTime pulledAt = QFileInfo(notes.apk).lastModified();
    QThread::msleep(20);
    ASSERT_TRUE(AndroidRuntimeCLI::discoverInstalledApps({}));
    EXPECT_EQ(QFileInfo(notes.apk).lastModified(), pulledAt); // not pulled twice
    EXPECT_TRUE(AndroidRuntimeCLI::discoverInstalledApps({u"org.vantle.sim.notes"_s})->apps.isEmpty());

    step("device settings reach Android");
    const auto dns = [] {
        AndroidAdBlock::apply();
        return shell(u"settings get global private_dns_mode"_s) + u' ' +
               shell(u"settings get global private_dns_specifier"_s);
    };
    EXPECT_EQ(dns(), u"hostname dns.adguard-dns.com"_s);
    VantleSettings::set(SettingsKeys::adBlockHost, u"dns.example.org"_s);
    EXPECT_EQ(dns(), u"hostname dns.example.org"_s);
    VantleSettings::set(SettingsKeys::adBlock, false);
    EXPECT_EQ(dns(), u"opportunistic null"_s);
    EXPECT_EQ(logCount(u"ad blocker: off"_s), 1);
    const auto night = [](AndroidDarkMode::Override value) {
        AndroidDarkMode::setOverride(value);
        AndroidDarkMode::apply();
        return shell(u"cmd uimode night"_s);
    };
    EXPECT_EQ(night(AndroidDarkMode::Override::dark), u"Night mode: yes"_s);
    EXPECT_EQ(night(AndroidDarkMode::Override::light), u"Night mode: no"_s);
    VantleSettings::set(SettingsKeys::syncDarkMode, false);
    EXPECT_EQ(night(AndroidDarkMode::Override::dark), u"Night mode: no"_s); // sync off: left alone
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::none);
    AndroidVolume::maximize();
    for (int stream : {3, 5}) {
        const QString answer = shell(u"cmd media_session volume --stream %1 --get"_s.arg(stream));
        const int maximum = AndroidVolume::maximumFromVolumeQuery(answer).value_or(-1);
        EXPECT_TRUE(answer.contains(u"volume is %1 "_s.arg(maximum))) << answer.toStdString();
    }
    EXPECT_FALSE(AndroidVolume::maximumFromVolumeQuery(u"[V] will get volume\n"_s));

    step("a running device of another version is restarted");
    ASSERT_EQ(SimulatedAndroidHome::install(34), QString());
    VantleSettings::set(SettingsKeys::androidAPI, 34);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    ASSERT_EQ(AndroidRuntimeCLI::runningAPI(), 34);
    VantleSettings::set(SettingsKeys::androidAPI, 35);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(logCount(u"android version change: running API 34, wanted API 35 - restarting"_s), 1);
    EXPECT_EQ(AndroidRuntimeCLI::runningAPI(), 35);
    EXPECT_EQ(logCount(u"starting emulator avd=Vantle-34 managed=true"_s), 1);
    EXPECT_EQ(logCount(u"starting emulator"_s), 3);

    step("an unhealthy package service restarts the device");
    ASSERT_TRUE(control.setFault(u"packageServiceMissing"_s, true).isEmpty());
    EXPECT_FALSE(AndroidRuntimeCLI::androidIsHealthy());
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(logCount(u"android unhealthy (package service missing) - restarting it"_s), 1);
    EXPECT_EQ(logCount(u"starting emulator"_s), 4);
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    control.clearFaults();

    step("an emulator that quit is started again at once");
    killAndWait();
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); // the old process may not be reaped yet
    EXPECT_EQ(logCount(u"starting emulator"_s), 5);
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());

    step("a cancelled boot ends its callers with an error");
    killAndWait();
    ASSERT_TRUE(control.setFault(u"bootNeverCompletes"_s, true).isEmpty());
    auto boot = AndroidRuntimeCLI::ensureRuntime();
    ASSERT_TRUE(waitUntil(AndroidRuntimeCLI::deviceIsListed, 10000)); // up, but never done booting
    AndroidRuntimeCLI::cancelBoot();
    EXPECT_EQ(thrownDescription<AndroidRuntimeError>([&] { Coroutines::waitFor(std::move(boot)); }),
              u"Android start was cancelled"_s);
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsListed()); // the emulator is left running
    EXPECT_FALSE(AndroidRuntimeCLI::deviceIsBooted());
    control.clearFaults();
}

// A left-over Android is prepared (display servers end, apps stop, settings applied) before a boot adopts it.
TEST_F(RuntimeDeviceTest, AnAndroidLeftRunningIsPreparedOrAwaitedAndOneThatQuitsFailsItsBoot) {
    EXPECT_FALSE(AndroidRuntimeCLI::prepareRunningDevice().result());
    EXPECT_TRUE(hooks().isEmpty());

    ASSERT_EQ(SimulatedAndroidHome::install(35, 5000), QString()); // slow enough to be caught booting
    startEmulatorElsewhere(AndroidRuntimeCLI::deviceIsListed);
    ASSERT_FALSE(AndroidRuntimeCLI::deviceIsBooted()); // still in its boot delay
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    EXPECT_EQ(hooks(), standardState); // after the boot, no launch

    killAndWait();
    ASSERT_EQ(SimulatedAndroidHome::install(35), QString());
    startEmulatorElsewhere(AndroidRuntimeCLI::deviceIsBooted);
    AndroidRuntimeCLI::adbDevice({u"install"_s, notesApk});
    QFuture<bool> prepared = AndroidRuntimeCLI::prepareRunningDevice();
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_TRUE(prepared.isFinished()); // the boot waited for it
    EXPECT_TRUE(prepared.result());
    EXPECT_EQ(hooks().mid(3), standardState);
    EXPECT_EQ(
        logCount(
            u"android already running: ending leftover display servers, stopping apps, applying settings"_s),
        1);
    EXPECT_EQ(logCount(u"stopped 1 Android apps"_s), 1);

    // A failed preparation is logged, and later boots go on.
    killAndWait();
    startEmulatorElsewhere(AndroidRuntimeCLI::deviceIsBooted);
    std::atomic<bool> failOnce = true;
    AndroidRuntimeCLI::BootHooks failing;
    failing.syncDarkMode = [&failOnce] {
        if (failOnce.exchange(false)) throw AndroidRuntimeError::commandFailed(u"dark mode refused"_s);
    };
    AndroidRuntimeCLI::setBootHooks(failing);
    prepared = AndroidRuntimeCLI::prepareRunningDevice();
    EXPECT_NO_THROW(Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()));
    EXPECT_NO_THROW(Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()));
    EXPECT_EQ(logCount(u"preparing the running Android failed: "_s), 1);
    EXPECT_EQ(logCount(u"starting emulator"_s), 0);

    // Without KVM the boot is still tried. An emulator that quits while starting fails the boot at once (not
    // after the four-minute bootTimeout), with what it said, or with the fix when KVM is unusable.
    killAndWait();
    const MissingDevice missing;
    const QString refusal = u"x86_64 emulation currently requires hardware acceleration!"_s;
    const struct {
        QString hostDevice;     // what Vantle's check opens
        QString emulatorDevice; // what the simulated emulator requires; empty: none
        QString error;
    } cases[] = {
        {u"/dev/null"_s, missing.path, u"Android Emulator quit while starting: "_s + refusal},
        {missing.path, missing.path, Virtualisation::problem(Virtualisation::Status::missing)},
        {missing.path, {}, u"(nothing thrown)"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        const ScopedEnvironment host("VANTLE_KVM_DEVICE", c.hostDevice);
        const ScopedEnvironment emulator("VANTLE_SIM_KVM_DEVICE", c.emulatorDevice);
        const MainLogSince caseLog;
        EXPECT_EQ(thrownDescription<AndroidRuntimeError>(
                      [] { Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); }),
                  c.error);
        EXPECT_EQ(caseLog.count(u"virtualisation: "_s), c.hostDevice == missing.path ? 1 : 0);
        if (c.emulatorDevice.isEmpty()) continue;
        EXPECT_EQ(caseLog.count(u"emulator quit while starting: "_s + refusal), 1);
        EXPECT_TRUE(readFile(Locations::logs() + u"/emulator.log"_s)
                        .contains("CPU acceleration status: /dev/kvm is not found")); // all it said is kept
    }
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
}

TEST(DeviceSettings, HardwareSettingsEditTheConfigurationOnce) {
    ScopedSettings settings;
    QTemporaryDir avdHome;
    AndroidRuntimePaths paths = AndroidRuntimePaths::managed(35);
    paths.avdHome = avdHome.path();
    const QString config = avdHome.filePath(u"Vantle.avd/config.ini"_s);
    ASSERT_TRUE(writeFile(config, "hw.audioOutput=yes\nhw.camera.back=emulated\nhw.ramSize=2048\n"));
    const auto applied = [&] {
        AndroidHardware::apply(paths);
        return readFile(config);
    };
    VantleSettings::set(SettingsKeys::micCamera, true);
    const QByteArray once = applied();
    EXPECT_EQ(once, "hw.audioOutput=no\nhw.camera.back=webcam0\nhw.ramSize=2048\nhw.audioInput=yes\nhw."
                    "camera.front=webcam0\n");
    const QDateTime written = QFileInfo(config).lastModified();
    QThread::msleep(20);
    EXPECT_EQ(applied(), once);
    EXPECT_EQ(QFileInfo(config).lastModified(), written); // unchanged text is not rewritten
    VantleSettings::set(SettingsKeys::forwardAudio, false);
    VantleSettings::set(SettingsKeys::micCamera, false);
    EXPECT_EQ(
        applied(),
        "hw.audioOutput=yes\nhw.camera.back=none\nhw.ramSize=2048\nhw.audioInput=no\nhw.camera.front=none\n");
}

} // namespace
