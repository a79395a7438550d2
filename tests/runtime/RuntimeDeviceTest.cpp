// Boot, install and device settings against the simulated Android, as Vantle drives a real one.
#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"
#include "platform/DetachedProcess.h"
#include "platform/Locations.h"
#include "platform/Virtualisation.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimControl.h"
#include "sim/SimInstaller.h"
#include "support/DeviceFiles.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFuture>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");
const QString headlessApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/headless.apk");

class RuntimeDeviceTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    std::optional<MainLogSince> since;
    QMutex stepsMutex;
    QStringList steps; // boot hooks in the order they ran

    void SetUp() override {
        since.emplace();
        AndroidRuntimeCLI::setBootHooks(
            {[this](const AndroidRuntimePaths& paths) { record(u"hardware "_s + paths.avdName); },
             [this] { record(u"dark"_s); }, [this] { record(u"volume"_s); },
             [this] { record(u"adblock"_s); }});
    }
    void TearDown() override { AndroidRuntimeCLI::setBootHooks({}); }

    void record(const QString& step) {
        QMutexLocker lock(&stepsMutex);
        steps.append(step);
    }
    QStringList recorded() {
        QMutexLocker lock(&stepsMutex);
        return steps;
    }
    qsizetype logCount(const QString& prefix) const { return since->count(prefix); }
    static QString shell(const QString& command) {
        return AndroidRuntimeCLI::adbDevice({u"shell"_s, command}).trimmed();
    }
    static QString installError(const QString& apk) {
        return thrownDescription<AndroidRuntimeError>(
            [&] { Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)); });
    }
};

// One boot of the managed Android, walked through what Vantle does with a running device.
TEST_F(RuntimeDeviceTest, ABootedDeviceThroughItsLife) {
    {
        SCOPED_TRACE("invalid package names are refused before Android is started");
        for (const auto& [apk, name] : {std::pair{"bad-name-semicolon.apk", "com.a;touch pwned"},
                                        std::pair{"bad-name-dotdot.apk", "../../tmp/x"}}) {
            const QString path = QStringLiteral(VANTLE_SIM_TEST_DATA "/") + QLatin1StringView(apk);
            EXPECT_EQ(installError(path), u"The APK's package name \""_s + QLatin1StringView(name) +
                                              u"\" is not a valid Android package name"_s);
            EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(path));
        }
        EXPECT_FALSE(AndroidRuntimeCLI::deviceIsListed());
        EXPECT_FALSE(AndroidRuntimeCLI::discoverInstalledApps({})); // not booted: no answer
    }
    {
        SCOPED_TRACE("a cold boot shared by two callers brings the standard state once");
        auto first = AndroidRuntimeCLI::ensureRuntime();
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        Coroutines::waitFor(std::move(first));
        EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
        EXPECT_TRUE(AndroidRuntimeCLI::androidIsHealthy());
        EXPECT_EQ(AndroidRuntimeCLI::runningAPI(), 35);
        EXPECT_EQ(recorded(), (QStringList{u"hardware Vantle"_s, u"dark"_s, u"volume"_s, u"adblock"_s}));
        EXPECT_EQ(logCount(u"starting emulator avd=Vantle managed=true sdk="_s +
                           AndroidRuntimePaths::managed(35).sdkRoot),
                  1);
        EXPECT_EQ(logCount(u"android network validated"_s), 1);
        // A ready device is only probed: no launch, no standard state applied again.
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        EXPECT_EQ(recorded().size(), 4);
        EXPECT_EQ(logCount(u"starting emulator"_s), 1);
    }
    {
        SCOPED_TRACE("an unchanged APK is installed only once");
        QTemporaryDir folder;
        const QString apk = folder.filePath(u"Notes.apk"_s);
        ASSERT_TRUE(QFile::copy(notesApk, apk));
        const auto installs = [&] {
            EXPECT_EQ(Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)),
                      u"org.vantle.sim.notes"_s);
            return logCount(u"installed package=org.vantle.sim.notes install+resolve="_s);
        };
        EXPECT_EQ(installs(), 1);
        EXPECT_EQ(AndroidRuntimeCLI::knownPackage(apk), u"org.vantle.sim.notes"_s);
        EXPECT_EQ(installs(), 1);
        EXPECT_EQ(logCount(u"already installed package=org.vantle.sim.notes check="_s), 1);
        // A new modification time means a new file: it is installed over the old one.
        QFile file(apk);
        file.open(QIODevice::ReadWrite);
        file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(5), QFileDevice::FileModificationTime);
        file.close();
        EXPECT_EQ(installs(), 2);
        // Uninstalled inside Android: "pm path" finds nothing, so it is installed again.
        AndroidRuntimeCLI::adbDevice({u"uninstall"_s, u"org.vantle.sim.notes"_s});
        EXPECT_EQ(installs(), 3);
    }
    {
        SCOPED_TRACE("failed installs leave no installed record");
        QTemporaryDir folder;
        const QString corrupt = folder.filePath(u"corrupt.apk"_s);
        ASSERT_TRUE(writeFile(corrupt, "PK\x03\x04 this is no zip"));
        const QString failure = installError(corrupt);
        EXPECT_TRUE(failure.contains(u"INSTALL_"_s) || failure.contains(u"Failure"_s))
            << failure.toStdString();
        EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(corrupt));
        EXPECT_EQ(installError(headlessApk), u"No launchable activity found for org.vantle.sim.headless"_s);
        EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(headlessApk));
        SimControl(Locations::runtime(), 35)
            .setFault(u"nextInstallFailure"_s, u"INSTALL_FAILED_UPDATE_INCOMPATIBLE: signatures differ"_s);
        const QString incompatible = installError(notesApk);
        EXPECT_TRUE(incompatible.contains(u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s))
            << incompatible.toStdString();
        EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(notesApk));
    }
    {
        SCOPED_TRACE("discovery copies out launchable apps once");
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
    }
    {
        SCOPED_TRACE("device settings reach Android");
        AndroidAdBlock::apply();
        EXPECT_EQ(shell(u"settings get global private_dns_mode"_s), u"hostname"_s);
        EXPECT_EQ(shell(u"settings get global private_dns_specifier"_s), u"dns.adguard-dns.com"_s);
        VantleSettings::set(SettingsKeys::adBlockHost, u"dns.example.org"_s);
        AndroidAdBlock::apply();
        EXPECT_EQ(shell(u"settings get global private_dns_specifier"_s), u"dns.example.org"_s);
        VantleSettings::set(SettingsKeys::adBlock, false);
        AndroidAdBlock::apply();
        EXPECT_EQ(shell(u"settings get global private_dns_mode"_s), u"opportunistic"_s);
        EXPECT_EQ(shell(u"settings get global private_dns_specifier"_s), u"null"_s);
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
            const auto maximum = AndroidVolume::maximumFromVolumeQuery(answer);
            ASSERT_TRUE(maximum) << answer.toStdString();
            EXPECT_TRUE(answer.contains(u"volume is %1 "_s.arg(*maximum))) << answer.toStdString();
        }
        EXPECT_FALSE(AndroidVolume::maximumFromVolumeQuery(u"[V] will get volume\n"_s));
    }
    SimControl control(Locations::runtime(), 35);
    {
        SCOPED_TRACE("an unhealthy package service restarts the device");
        ASSERT_TRUE(control.setFault(u"packageServiceMissing"_s, true).isEmpty());
        EXPECT_FALSE(AndroidRuntimeCLI::androidIsHealthy());
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        EXPECT_EQ(logCount(u"android unhealthy (package service missing) - restarting it"_s), 1);
        EXPECT_EQ(logCount(u"starting emulator"_s), 2);
        EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
        control.clearFaults();
    }
    {
        SCOPED_TRACE("an emulator that quit is started again at once");
        AndroidRuntimeCLI::killEmulator(); // as the idle shutdown does
        ASSERT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000));
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); // the old process may not be reaped yet
        EXPECT_EQ(logCount(u"starting emulator"_s), 3);
        EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    }
    {
        SCOPED_TRACE("a cancelled boot ends its callers with an error");
        AndroidRuntimeCLI::killEmulator();
        ASSERT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000));
        ASSERT_TRUE(control.setFault(u"bootNeverCompletes"_s, true).isEmpty());
        // Cancel once the new emulator is up but still booting (it never finishes).
        QTimer canceller;
        QObject::connect(&canceller, &QTimer::timeout, &canceller, [&canceller] {
            if (!AndroidRuntimeCLI::deviceIsListed()) return;
            AndroidRuntimeCLI::cancelBoot();
            canceller.stop();
        });
        canceller.start(200);
        EXPECT_EQ(thrownDescription<AndroidRuntimeError>(
                      [] { Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); }),
                  u"Android start was cancelled"_s);
        EXPECT_TRUE(AndroidRuntimeCLI::deviceIsListed()); // the emulator is left running
        EXPECT_FALSE(AndroidRuntimeCLI::deviceIsBooted());
        control.clearFaults();
    }
}

// An emulator left running by an earlier Vantle: started outside this process.
void startEmulatorElsewhere() {
    const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(35);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ANDROID_AVD_HOME"_s, *paths.avdHome);
    const auto started = DetachedProcess::start(
        paths.emulator(), {u"@Vantle"_s, u"-port"_s, u"5556"_s, u"-no-window"_s}, environment);
    ASSERT_TRUE(started.pid) << started.error.toStdString();
}

// Start-up beside an Android left running by an earlier run: its leftover display servers end, its
// apps stop and the device settings are applied, before any boot may adopt it. Beside no Android,
// nothing is done.
TEST_F(RuntimeDeviceTest, StartUpPreparesOnlyAnAndroidThatIsUp) {
    QFuture<bool> prepared = AndroidRuntimeCLI::prepareRunningDevice();
    prepared.waitForFinished();
    EXPECT_FALSE(prepared.result());
    EXPECT_TRUE(recorded().isEmpty());

    startEmulatorElsewhere();
    ASSERT_TRUE(waitUntil([] { return AndroidRuntimeCLI::deviceIsBooted(); }, 10000));
    AndroidRuntimeCLI::adbDevice({u"install"_s, notesApk});
    prepared = AndroidRuntimeCLI::prepareRunningDevice();
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_TRUE(prepared.isFinished()); // the boot waited for it
    EXPECT_TRUE(prepared.result());
    EXPECT_EQ(recorded(), (QStringList{u"dark"_s, u"volume"_s, u"adblock"_s}));
    EXPECT_EQ(
        logCount(
            u"android already running: ending leftover display servers, stopping apps, applying settings"_s),
        1);
    EXPECT_EQ(logCount(u"stopped 1 Android apps"_s), 1);
    EXPECT_EQ(logCount(u"starting emulator"_s), 0);

    // A failed preparation is logged, and later boots go on.
    AndroidRuntimeCLI::killEmulator();
    ASSERT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000));
    startEmulatorElsewhere();
    ASSERT_TRUE(waitUntil([] { return AndroidRuntimeCLI::deviceIsBooted(); }, 10000));
    std::atomic<bool> failOnce = true;
    AndroidRuntimeCLI::setBootHooks({{},
                                     [&failOnce] {
                                         if (failOnce.exchange(false))
                                             throw AndroidRuntimeError::commandFailed(u"dark mode refused"_s);
                                     },
                                     {},
                                     {}});
    prepared = AndroidRuntimeCLI::prepareRunningDevice();
    EXPECT_NO_THROW(Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()));
    EXPECT_NO_THROW(Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()));
    EXPECT_EQ(logCount(u"preparing the running Android failed: "_s), 1);
}

TEST_F(RuntimeDeviceTest, AStartingDeviceIsAwaitedNotStartedTwice) {
    ASSERT_EQ(SimulatedAndroidHome::install(35, 5000),
              QString()); // a boot slow enough to be caught while it runs
    startEmulatorElsewhere();
    ASSERT_TRUE(waitUntil([] { return AndroidRuntimeCLI::deviceIsListed(); }, 10000));
    ASSERT_FALSE(AndroidRuntimeCLI::deviceIsBooted()); // still in its boot delay
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(logCount(u"starting emulator"_s), 0);
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    EXPECT_EQ(recorded(), (QStringList{u"dark"_s, u"volume"_s, u"adblock"_s})); // after the boot, no launch
}

TEST_F(RuntimeDeviceTest, ARunningDeviceOfAnotherVersionIsRestarted) {
    ASSERT_EQ(SimulatedAndroidHome::install(34), QString());
    VantleSettings::set(SettingsKeys::androidAPI, 34);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    ASSERT_EQ(AndroidRuntimeCLI::runningAPI(), 34);

    VantleSettings::set(SettingsKeys::androidAPI, 35);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(logCount(u"android version change: running API 34, wanted API 35 - restarting"_s), 1);
    EXPECT_EQ(AndroidRuntimeCLI::runningAPI(), 35);
    EXPECT_EQ(logCount(u"starting emulator avd=Vantle managed=true"_s), 1);
    EXPECT_EQ(logCount(u"starting emulator avd=Vantle-34 managed=true"_s), 1);
}

// Without KVM the boot is still tried (the simulated emulator needs none). An emulator that quits
// while starting fails the boot at once, with what it said, or with the fix when the check had
// found KVM unusable; a boot that waited out its four minutes would end in bootTimeout instead.
TEST_F(RuntimeDeviceTest, AnEmulatorThatQuitsWhileStartingFailsTheBootAtOnce) {
    const MissingDevice missing;
    const QString refusal = u"x86_64 emulation currently requires hardware acceleration!"_s;
    const struct {
        const char* name;
        QString hostDevice;     // what Vantle's check opens
        QString emulatorDevice; // what the simulated emulator requires; empty: none
        QString error;          // empty: the boot succeeds
    } cases[] = {
        {"usable, the emulator refuses", u"/dev/null"_s, missing.path,
         u"Android Emulator quit while starting: "_s + refusal},
        {"missing, the emulator refuses", missing.path, missing.path,
         Virtualisation::problem(Virtualisation::Status::missing)},
        {"missing, the emulator needs none", missing.path, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ScopedEnvironment host("VANTLE_KVM_DEVICE", c.hostDevice);
        const ScopedEnvironment emulator("VANTLE_SIM_KVM_DEVICE", c.emulatorDevice);
        const MainLogSince caseLog;
        EXPECT_EQ(thrownDescription<AndroidRuntimeError>(
                      [] { Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); }),
                  c.error.isEmpty() ? u"(nothing thrown)"_s : c.error);
        EXPECT_EQ(caseLog.count(u"virtualisation: "_s), c.hostDevice == missing.path ? 1 : 0);
        if (c.error.isEmpty()) continue;
        EXPECT_EQ(caseLog.count(u"emulator quit while starting: "_s + refusal), 1);
        // The whole of what it said is kept.
        EXPECT_TRUE(readFile(Locations::logs() + u"/emulator.log"_s)
                        .contains("CPU acceleration status: /dev/kvm is not found"));
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
    VantleSettings::set(SettingsKeys::micCamera, true);
    AndroidHardware::apply(paths);
    const auto read = [&] { return readFile(config); };
    const QByteArray once = read();
    EXPECT_EQ(once,
              QByteArray("hw.audioOutput=no\nhw.camera.back=webcam0\nhw.ramSize=2048\nhw.audioInput=yes\n"
                         "hw.camera.front=webcam0\n"));
    const QDateTime written = QFileInfo(config).lastModified();
    QThread::msleep(20);
    AndroidHardware::apply(paths);
    EXPECT_EQ(read(), once);
    EXPECT_EQ(QFileInfo(config).lastModified(), written); // unchanged text is not rewritten

    VantleSettings::set(SettingsKeys::forwardAudio, false);
    VantleSettings::set(SettingsKeys::micCamera, false);
    AndroidHardware::apply(paths);
    EXPECT_EQ(read(),
              QByteArray("hw.audioOutput=yes\nhw.camera.back=none\nhw.ramSize=2048\nhw.audioInput=no\n"
                         "hw.camera.front=none\n"));
}

} // namespace
