#pragma once

#include "runtime/AndroidRuntimeError.h"
#include "runtime/AndroidRuntimePaths.h"

#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <optional>

// Running Google's SDK tools against Vantle's one emulator. Every call here blocks its thread:
// call them from the thread pool, never from the main thread.
namespace AndroidRuntimeCLI {

// Vantle's emulator always listens on console port 5556, hence this adb serial.
inline constexpr auto deviceSerial = QLatin1StringView("emulator-5556");
inline constexpr int noTimeLimit = -1;
// Device probes that take longer than this count as "no"; installs and pulls have no limit.
inline constexpr int probeTimeoutMs = 15'000;

// Threads for blocking Android work (boots wait minutes; Qt's global pool has one per core).
QThreadPool& pool();

// Runs a tool to completion with its standard output and error combined. Returns the output
// untrimmed; throws toolMissing (before starting anything) or commandFailed with the trimmed
// output when the exit status is not 0 or the time limit passed.
QString run(const QString& tool, const QStringList& arguments, int timeoutMs = noTimeLimit);
// adb against the device ("-s emulator-5556" first): standard output, or nothing when adb could
// not run or printed bytes that are not UTF-8. The exit status is not examined.
std::optional<QString> runADB(const QStringList& arguments, int timeoutMs = noTimeLimit);
// adb of the current installation with the device serial first, through run().
QString adbDevice(const QStringList& arguments, int timeoutMs = noTimeLimit);

QString packagesDirectory(); // APKs pulled out of Android
std::optional<QString> javaHome(); // for apkanalyzer

// Probes; any failure counts as "no".
bool deviceIsBooted();
bool deviceIsListed();
bool androidIsHealthy();
int runningAPI(); // 0 when unknown
// Force-stops every user-installed app; returns how many it stopped.
int stopAllApps();

} // namespace AndroidRuntimeCLI
