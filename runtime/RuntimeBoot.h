#pragma once

#include "runtime/AndroidRuntimePaths.h"

#include <QCoro/QCoroTask>
#include <QFuture>

#include <functional>

// Bringing up Vantle's one emulator: headless on console port 5556, booted, running the wanted
// Android version, with a healthy package service and the standard device state.
namespace AndroidRuntimeCLI {

// Work of other parts that the boot runs. Each may be empty; all run on a pool thread.
struct BootHooks {
    std::function<void(const AndroidRuntimePaths& paths)> beforeLaunch; // hardware settings of the AVD
    std::function<void()> syncDarkMode;
    std::function<void()> maximizeVolume;
    std::function<void()> applyAdBlock;
};
void setBootHooks(BootHooks hooks); // main thread, at start-up

// At start-up, beside an Android that is already up (left by an earlier run, or kept on quit):
// ends leftover display servers on the device, stops all user-installed apps and applies the
// standard device settings, on the pool. Main thread; a call while one runs returns that one. Its
// result tells whether Android was up; ensureRuntime waits for it before it boots or adopts one.
QFuture<bool> prepareRunningDevice();

// The one way to a ready device. Main thread. Concurrent callers share one boot and all get its
// result; a call after a finished boot starts a fresh, cheap check. Throws AndroidRuntimeError.
QCoro::Task<> ensureRuntime();
// Ends a boot in progress at its next wait; its callers get an error.
void cancelBoot();

// Blocking parts of the boot, also used on their own.
void waitForBoot();    // throws bootTimeout after about four minutes
void waitForInternet(); // at most about 30 s; never fails

// Asks the emulator to quit ("emu kill"); errors are ignored.
void killEmulator();

} // namespace AndroidRuntimeCLI
