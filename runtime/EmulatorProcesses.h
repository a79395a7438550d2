#pragma once

#include "platform/ProcessList.h"
#include "runtime/AndroidRuntimePaths.h"

// Finding and ending Vantle's own emulator process: the emulator program of Vantle's SDK, started
// with one of Vantle's virtual devices on console port 5556. The user's other emulators (another
// AVD, another port, another SDK, another Vantle home) are never touched.
namespace AndroidRuntimeCLI {

// Whether `process` is the emulator of the SDK and virtual devices in `paths`. Its program lies in
// the SDK's "emulator" folder; its arguments name one of Vantle's virtual devices ("@Vantle" or
// "-avd Vantle", "Vantle-34" for other versions) and "-port 5556".
bool isOwnEmulator(const RunningProcess& process, const AndroidRuntimePaths& paths);

// Ends the current installation's emulator processes that are still running: asks them to
// terminate, waits up to `waitMs`, then kills what is left. Blocking; returns how many it found.
int endOwnEmulator(int waitMs = 10'000);

} // namespace AndroidRuntimeCLI
