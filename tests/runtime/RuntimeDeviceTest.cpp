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
    // Lines this test wrote to the main log.
    QStringList log() const { return since->lines(); }
    qsizetype logCount(const QString& prefix) const { return since->count(prefix); }
    static QString shell(const QString& command) {
        return AndroidRuntimeCLI::adbDevice({u"shell"_s, command}).trimmed();
    }
    static QString description(QCoro::Task<QString> task) {
        try {
            Coroutines::waitFor(std::move(task));
        } catch (const AndroidRuntimeError& error) {
            return error.description();
        }
        return u"(no error)"_s;
    }
};

TEST_F(RuntimeDeviceTest, AColdBootBringsTheDeviceToTheStandardStateOnce) {
    ASSERT_FALSE(AndroidRuntimeCLI::deviceIsListed());
    // Two callers at once share one boot.
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

    // A ready device is only probed: no launch, no standard state applied again (so too for one
    // found running, below).
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(recorded().size(), 4);
    EXPECT_EQ(logCount(u"starting emulator"_s), 1);
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
}

TEST_F(RuntimeDeviceTest, AFailedPreparationIsLoggedAndLaterBootsGoOn) {
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
    const QFuture<bool> prepared = AndroidRuntimeCLI::prepareRunningDevice();
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

TEST_F(RuntimeDeviceTest, AnUnhealthyPackageServiceRestartsTheDevice) {
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    SimControl control(Locations::runtime(), 35);
    ASSERT_TRUE(control.setFault(u"packageServiceMissing"_s, true).isEmpty());
    const qsizetype launches = logCount(u"starting emulator"_s);
    EXPECT_FALSE(AndroidRuntimeCLI::androidIsHealthy());
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(logCount(u"android unhealthy (package service missing) - restarting it"_s), 1);
    EXPECT_EQ(logCount(u"starting emulator"_s), launches + 1);
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    control.clearFaults();
}

TEST_F(RuntimeDeviceTest, AnEmulatorThatQuitIsStartedAgain) {
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    AndroidRuntimeCLI::killEmulator(); // as the idle shutdown does
    ASSERT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000));
    // The process Vantle launched has exited (perhaps not yet reaped): launch a new one at once.
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_EQ(logCount(u"starting emulator"_s), 2);
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
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
        QString error;
        try {
            Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        } catch (const AndroidRuntimeError& e) {
            error = e.description();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(caseLog.count(u"virtualisation: "_s), c.hostDevice == missing.path ? 1 : 0);
        if (c.error.isEmpty()) continue;
        EXPECT_EQ(caseLog.count(u"emulator quit while starting: "_s + refusal), 1);
        QFile output(Locations::logs() + u"/emulator.log"_s); // the whole of what it said is kept
        ASSERT_TRUE(output.open(QIODevice::ReadOnly));
        EXPECT_TRUE(output.readAll().contains("CPU acceleration status: /dev/kvm is not found"));
    }
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
}

TEST_F(RuntimeDeviceTest, ACancelledBootEndsItsCallersWithAnError) {
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); // the device's data exists from its first boot
    AndroidRuntimeCLI::killEmulator();
    ASSERT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000));
    SimControl control(Locations::runtime(), 35);
    ASSERT_TRUE(control.setFault(u"bootNeverCompletes"_s, true).isEmpty());
    // Cancel once the new emulator is up but still booting (it never finishes).
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, &canceller, [&canceller] {
        if (!AndroidRuntimeCLI::deviceIsListed()) return;
        AndroidRuntimeCLI::cancelBoot();
        canceller.stop();
    });
    canceller.start(200);
    try {
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        ADD_FAILURE() << "the boot did not end";
    } catch (const AndroidRuntimeError& error) {
        EXPECT_EQ(error.description(), u"Android start was cancelled"_s);
    }
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsListed()); // the emulator is left running
    EXPECT_FALSE(AndroidRuntimeCLI::deviceIsBooted());
    control.clearFaults();
}

TEST_F(RuntimeDeviceTest, AnUnchangedApkIsInstalledOnlyOnce) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"Notes.apk"_s);
    ASSERT_TRUE(QFile::copy(notesApk, apk));

    EXPECT_EQ(Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)), u"org.vantle.sim.notes"_s);
    EXPECT_EQ(logCount(u"installed package=org.vantle.sim.notes install+resolve="_s), 1);
    EXPECT_EQ(AndroidRuntimeCLI::knownPackage(apk), u"org.vantle.sim.notes"_s);

    EXPECT_EQ(Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)), u"org.vantle.sim.notes"_s);
    EXPECT_EQ(logCount(u"already installed package=org.vantle.sim.notes check="_s), 1);
    EXPECT_EQ(logCount(u"installed package="_s), 1);

    // A new modification time means a new file: it is installed over the old one.
    QFile file(apk);
    file.open(QIODevice::ReadWrite);
    file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(5), QFileDevice::FileModificationTime);
    file.close();
    EXPECT_EQ(Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)), u"org.vantle.sim.notes"_s);
    EXPECT_EQ(logCount(u"installed package="_s), 2);

    // Uninstalled inside Android: "pm path" finds nothing, so it is installed again.
    AndroidRuntimeCLI::adbDevice({u"uninstall"_s, u"org.vantle.sim.notes"_s});
    EXPECT_EQ(Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk)), u"org.vantle.sim.notes"_s);
    EXPECT_EQ(logCount(u"installed package="_s), 3);
}

TEST_F(RuntimeDeviceTest, FailedInstallsLeaveNoInstalledRecord) {
    QTemporaryDir folder;
    const QString corrupt = folder.filePath(u"corrupt.apk"_s);
    QFile file(corrupt);
    file.open(QIODevice::WriteOnly);
    file.write("PK\x03\x04 this is no zip");
    file.close();
    const QString failure = description(AndroidRuntimeCLI::installAndLaunch(corrupt));
    EXPECT_TRUE(failure.contains(u"INSTALL_"_s) || failure.contains(u"Failure"_s)) << failure.toStdString();
    EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(corrupt));

    EXPECT_EQ(description(AndroidRuntimeCLI::installAndLaunch(headlessApk)),
              u"No launchable activity found for org.vantle.sim.headless"_s);
    EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(headlessApk));

    SimControl control(Locations::runtime(), 35);
    control.setFault(u"nextInstallFailure"_s, u"INSTALL_FAILED_UPDATE_INCOMPATIBLE: signatures differ"_s);
    const QString incompatible = description(AndroidRuntimeCLI::installAndLaunch(notesApk));
    EXPECT_TRUE(incompatible.contains(u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s)) << incompatible.toStdString();
    EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(notesApk));
}

TEST_F(RuntimeDeviceTest, AnInvalidPackageNameIsRefusedBeforeAndroidSeesIt) {
    for (const auto& [apk, name] : {std::pair{"bad-name-semicolon.apk", "com.a;touch pwned"},
                                    std::pair{"bad-name-dotdot.apk", "../../tmp/x"}}) {
        const QString path = QStringLiteral(VANTLE_SIM_TEST_DATA "/") + QLatin1StringView(apk);
        EXPECT_EQ(description(AndroidRuntimeCLI::installAndLaunch(path)),
                  u"The APK's package name \""_s + QLatin1StringView(name) +
                      u"\" is not a valid Android package name"_s);
        EXPECT_FALSE(AndroidRuntimeCLI::knownPackage(path));
    }
    EXPECT_FALSE(AndroidRuntimeCLI::deviceIsListed()); // not even started for them
}

TEST_F(RuntimeDeviceTest, DiscoveryCopiesOutLaunchableAppsOnce) {
    EXPECT_FALSE(AndroidRuntimeCLI::discoverInstalledApps({})); // not booted: no answer
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    AndroidRuntimeCLI::adbDevice({u"install"_s, notesApk});
    AndroidRuntimeCLI::adbDevice({u"install"_s, headlessApk});

    const auto found = AndroidRuntimeCLI::discoverInstalledApps({});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->installed, (QSet<QString>{u"org.vantle.sim.notes"_s, u"org.vantle.sim.headless"_s}));
    ASSERT_EQ(found->apps.size(), 1); // the headless app has nothing to launch
    const AndroidRuntimeCLI::DiscoveredApp& notes = found->apps.first();
    EXPECT_EQ(notes.package, u"org.vantle.sim.notes"_s);
    EXPECT_EQ(notes.apk, Locations::packages() + u"/org.vantle.sim.notes.apk"_s);
    EXPECT_FALSE(notes.name.isEmpty());
    EXPECT_EQ(AndroidRuntimeCLI::knownPackage(notes.apk), notes.package); // the next open takes the fast path
    const QDateTime pulledAt = QFileInfo(notes.apk).lastModified();

    QThread::msleep(20);
    const auto again = AndroidRuntimeCLI::discoverInstalledApps({});
    ASSERT_TRUE(again);
    EXPECT_EQ(QFileInfo(notes.apk).lastModified(), pulledAt); // not pulled twice
    EXPECT_TRUE(AndroidRuntimeCLI::discoverInstalledApps({u"org.vantle.sim.notes"_s})->apps.isEmpty());
}

TEST_F(RuntimeDeviceTest, DeviceSettingsReachAndroid) {
    AndroidRuntimeCLI::setBootHooks({});
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());

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

    AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark);
    AndroidDarkMode::apply();
    EXPECT_EQ(shell(u"cmd uimode night"_s), u"Night mode: yes"_s);
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::light);
    AndroidDarkMode::apply();
    EXPECT_EQ(shell(u"cmd uimode night"_s), u"Night mode: no"_s);
    VantleSettings::set(SettingsKeys::syncDarkMode, false);
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark);
    AndroidDarkMode::apply(); // sync off: Android is left alone
    EXPECT_EQ(shell(u"cmd uimode night"_s), u"Night mode: no"_s);
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

TEST(DeviceSettings, HardwareSettingsEditTheConfigurationOnce) {
    ScopedSettings settings;
    QTemporaryDir avdHome;
    AndroidRuntimePaths paths = AndroidRuntimePaths::managed(35);
    paths.avdHome = avdHome.path();
    const QString config = avdHome.filePath(u"Vantle.avd/config.ini"_s);
    QDir().mkpath(avdHome.filePath(u"Vantle.avd"_s));
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("hw.audioOutput=yes\nhw.camera.back=emulated\nhw.ramSize=2048\n");
    file.close();

    VantleSettings::set(SettingsKeys::micCamera, true);
    AndroidHardware::apply(paths);
    const auto read = [&] {
        QFile in(config);
        in.open(QIODevice::ReadOnly);
        return in.readAll();
    };
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
