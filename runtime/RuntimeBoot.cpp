#include "runtime/RuntimeBoot.h"

#include "core/VantleError.h"
#include "core/VantleLog.h"
#include "platform/DetachedProcess.h"
#include "platform/Locations.h"
#include "platform/Virtualisation.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/EmulatorOutput.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QMutex>
#include <QThread>
#include <QtConcurrent>
#include <atomic>

using namespace Qt::Literals::StringLiterals;

namespace AndroidRuntimeCLI {

namespace {

constexpr int bootPolls = 240;            // one-second polls of sys.boot_completed
constexpr int networkChecks = 30;         // one-second checks for a validated network
constexpr int killWaitSleeps = 30;        // one-second waits for the device to leave adb's list
constexpr int previousEmulatorWaits = 30; // half-second waits for an emulator we started to exit

// Boot state. `bootTask` is main-thread only; the emulator's pid is touched by the boot thread
// and read by others, hence atomic.
std::optional<QFuture<void>> bootTask;
std::optional<QFuture<bool>> preparation; // start-up's work on an Android that was already up
int bootGeneration = 0; // tells a finished boot's clean-up whether bootTask is still its own
std::atomic<qint64> emulatorPid{0};
std::atomic<bool> bootCancelled{false};
QMutex hooksMutex;
BootHooks hooks; // guarded by hooksMutex

BootHooks currentHooks() {
    QMutexLocker lock(&hooksMutex);
    return hooks;
}

void run(const std::function<void()>& step) {
    if (step) step();
}

// A sleep that ends early, with an error, when the boot is cancelled.
void sleepMs(int ms) {
    for (int slept = 0; slept < ms; slept += 50) {
        if (bootCancelled) throw AndroidRuntimeError::commandFailed(u"Android start was cancelled"_s);
        QThread::msleep(50);
    }
}

void log(const QString& line) {
    VantleLog::main().write(line);
}

// Waits until the device has left adb's list, at most 30 seconds.
void killWait() {
    for (int sleeps = 0; sleeps < killWaitSleeps && deviceIsListed(); ++sleeps)
        sleepMs(1000);
}

// An emulator this boot started: while Android starts, its end is the boot's failure.
struct Launched {
    qint64 pid = 0;
    QString outputFile;             // what it prints, emptied per launch
    std::optional<QString> problem; // what the virtualisation check found before the launch
};

// The emulator's output file: "emulator.log" in Vantle's log folder, emptied for each launch.
QString freshOutputFile() {
    const QString folder = Locations::logs();
    QDir().mkpath(folder);
    const QString path = folder + u"/emulator.log"_s;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {}; // then it goes nowhere
    return path;
}

std::optional<Launched> launchEmulator() {
    for (int waits = 0; waits < previousEmulatorWaits && DetachedProcess::isRunning(emulatorPid); ++waits)
        sleepMs(500);
    if (!DetachedProcess::isRunning(emulatorPid)) emulatorPid = 0;

    const AndroidRuntimePaths paths = AndroidRuntimePaths::current();
    const QFileInfo emulator(paths.emulator());
    if (!emulator.isFile() || !emulator.isExecutable())
        throw AndroidRuntimeError::toolMissing(u"Android Emulator"_s);
    if (DetachedProcess::isRunning(emulatorPid))
        return std::nullopt; // it outlived the wait: let it finish booting

    // Only a warning here: an emulator that needs no virtualisation (the simulated one) boots
    // anyway. If this one quits while starting, the problem becomes the boot's error.
    Launched launched;
    launched.problem = Virtualisation::hostProblem();
    if (launched.problem) log(u"virtualisation: "_s + *launched.problem);

    run([&] {
        if (auto beforeLaunch = currentHooks().beforeLaunch) beforeLaunch(paths);
    });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ANDROID_SDK_ROOT"_s, paths.sdkRoot);
    environment.insert(u"ANDROID_HOME"_s, paths.sdkRoot);
    if (paths.avdHome) environment.insert(u"ANDROID_AVD_HOME"_s, *paths.avdHome);
    launched.outputFile = freshOutputFile();
    log(u"starting emulator avd="_s + paths.avdName + u" managed="_s +
        (paths.isManaged ? u"true"_s : u"false"_s) + u" sdk="_s + paths.sdkRoot);
    const auto started = DetachedProcess::start(paths.emulator(),
                                                {u'@' + paths.avdName, u"-port"_s, u"5556"_s, u"-no-window"_s,
                                                 u"-no-boot-anim"_s, u"-gpu"_s, u"host"_s, u"-memory"_s,
                                                 u"2048"_s, u"-no-snapshot"_s},
                                                environment, launched.outputFile);
    if (!started.pid) throw AndroidRuntimeError::commandFailed(started.error);
    emulatorPid = launched.pid = *started.pid;
    return launched;
}

// An emulator that ended before Android finished starting fails the boot at once, with what
// it said last (or, when virtualisation was found unusable, with what the user can do).
void failIfQuit(const Launched& launched) {
    if (DetachedProcess::isRunning(launched.pid)) return;
    const std::optional<QString> said = EmulatorOutput::lastErrorLineOfFile(launched.outputFile);
    log(u"emulator quit while starting: "_s + said.value_or(u"(no error line)"_s));
    if (launched.problem) throw AndroidRuntimeError::virtualisationUnavailable(*launched.problem);
    throw AndroidRuntimeError::emulatorQuit(said.value_or(QString()));
}

// waitForBoot, watching the emulator this boot launched, if any. A listed device that this boot
// did not launch may be one that is stopping rather than starting (Google's adb server lists an
// emulator "offline" while it goes down): once it has left the list, one is launched.
enum class WhenUnlisted { keepWaiting, launch };
void waitForBoot(std::optional<Launched> launched, WhenUnlisted whenUnlisted) {
    for (int sleeps = 1;; ++sleeps) {
        if (deviceIsBooted()) return;
        if (launched) failIfQuit(*launched);
        if (!launched && whenUnlisted == WhenUnlisted::launch && !deviceIsListed())
            launched = launchEmulator();
        sleepMs(1000);
        if (sleeps == bootPolls) throw AndroidRuntimeError::bootTimeout();
    }
}

// No user-installed app running, dark mode, volume and ad blocking as set.
void applyStandardState() {
    const BootHooks steps = currentHooks();
    const int stopped = stopAllApps();
    if (stopped > 0) log(u"stopped %1 Android apps"_s.arg(stopped));
    run(steps.syncDarkMode);
    run(steps.maximizeVolume);
    run(steps.applyAdBlock);
}

void afterBoot() {
    applyStandardState();
    waitForInternet();
}

bool prepareRunning() {
    if (!deviceIsBooted()) return false;
    log(u"android already running: ending leftover display servers, stopping apps, applying settings"_s);
    runADB({u"shell"_s, u"pkill"_s, u"-f"_s, u"com.genymobile.scrcpy.Server"_s}, probeTimeoutMs);
    applyStandardState();
    return true;
}

void bootRuntime() {
    if (deviceIsBooted()) {
        const int running = runningAPI();
        const int wanted = AndroidRuntimePaths::current().api;
        if (running != 0 && running != wanted) {
            log(u"android version change: running API %1, wanted API %2 - restarting"_s.arg(running).arg(
                wanted));
            stopAllApps();
            killEmulator();
            killWait();
            emulatorPid = 0;
        } else if (androidIsHealthy()) {
            return;
        }
    }

    if (deviceIsBooted()) {
        if (androidIsHealthy()) return;
        log(u"android unhealthy (package service missing) - restarting it"_s);
        killEmulator();
        killWait();
        emulatorPid = 0;
    }
    // A listed device is an emulator that is starting (or still stopping): wait for it instead.
    std::optional<Launched> launched;
    if (!deviceIsListed()) launched = launchEmulator();
    waitForBoot(std::move(launched), WhenUnlisted::launch);
    afterBoot();
}

} // namespace

void setBootHooks(BootHooks newHooks) {
    QMutexLocker lock(&hooksMutex);
    hooks = std::move(newHooks);
}

void killEmulator() {
    try {
        adbDevice({u"emu"_s, u"kill"_s}, probeTimeoutMs);
    } catch (const AndroidRuntimeError&) {
    }
}

void waitForBoot() {
    waitForBoot(std::nullopt, WhenUnlisted::keepWaiting);
}

void waitForInternet() {
    for (int check = 0; check < networkChecks; ++check) {
        try {
            if (adbDevice({u"shell"_s, u"dumpsys"_s, u"connectivity"_s}, probeTimeoutMs)
                    .contains(u"VALIDATED"_s)) {
                log(u"android network validated"_s);
                return;
            }
        } catch (const AndroidRuntimeError&) {
        }
        // A cancelled boot ends this sleep early; the checks go on.
        for (int slept = 0; slept < 1000 && !bootCancelled; slept += 50)
            QThread::msleep(50);
    }
    log(u"android network not validated after 30s"_s);
}

void cancelBoot() {
    if (bootTask) bootCancelled = true;
}

QFuture<bool> prepareRunningDevice() {
    if (!preparation || preparation->isFinished()) preparation = QtConcurrent::run(&pool(), prepareRunning);
    return *preparation;
}

QCoro::Task<> ensureRuntime() {
    // A boot after start-up's preparation, never beside it: the preparation stops every app, and
    // would stop the one being opened.
    if (preparation) {
        const QFuture<bool> prepared = *preparation;
        // A failed preparation is over all the same: kept, it would fail every later boot.
        try {
            co_await prepared;
        } catch (const std::exception& error) {
            log(u"preparing the running Android failed: "_s + VantleError::describe(error));
        }
        preparation.reset();
    }
    if (!bootTask) {
        bootCancelled = false;
        bootTask = QtConcurrent::run(&pool(), bootRuntime);
        ++bootGeneration;
    }
    const QFuture<void> task = *bootTask;
    const int generation = bootGeneration;
    // Empty the shared task once it ended, unless a newer boot has replaced it meanwhile; the
    // boot's error (an AndroidRuntimeError carried by the future) goes on to the caller.
    try {
        co_await task;
    } catch (...) {
        if (bootGeneration == generation) bootTask.reset();
        throw;
    }
    if (bootGeneration == generation) bootTask.reset();
}

} // namespace AndroidRuntimeCLI
