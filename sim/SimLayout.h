#pragma once

#include <QString>
#include <QStringList>

// Where the simulated Android lives on the host. An SDK folder holds the tools, exactly where
// Google's SDK keeps them; the virtual device (AVD) folder holds the device's own files, as the
// real emulator keeps its disk images there.
//
//   <sdk>/platform-tools/adb, <sdk>/emulator/emulator, <sdk>/cmdline-tools/latest/bin/apkanalyzer
//   <sdk>/system-images/android-<api>/default/x86_64/{system.img,build.prop}
//   <sdk>/emulator/sim/system-bin/      Android's commands, mounted as /system/bin on the device
//   <sdk>/emulator/sim/config.json      boot and network delays
//   <sdk>/.sim-run/emulator-<port>.*    the running emulator (lock held for its lifetime, facts)
//   <avdHome>/<avdName>.avd/device/data the device's /data; /sdcard is data/media/0 inside it
namespace SimLayout {

inline constexpr int consolePort = 5556;
inline constexpr const char* serial = "emulator-5556";
inline constexpr const char* abi = "x86_64";

QString avdName(int api);                    // "Vantle" for 35, else "Vantle-<api>"
QString sdkRoot(const QString& runtimeRoot); // runtimeRoot + "/sdk"
QString avdHome(const QString& runtimeRoot); // runtimeRoot + "/avd"
QString systemImageFolder(const QString& sdk, int api);
QString avdFolder(const QString& avdHome, const QString& name); // <avdHome>/<name>.avd
QString deviceData(const QString& avdFolder);                   // the device's /data on the host
QString simFolder(const QString& sdk);                          // <sdk>/emulator/sim
QString runFolder(const QString& sdk);                          // <sdk>/.sim-run

// The SDK that holds the running executable (two folders up from platform-tools/adb or
// emulator/emulator, three from cmdline-tools/latest/bin). Empty when it cannot be found.
QString sdkOfExecutable(int levelsUp);

// The display server's start, "CLASSPATH=<jar> app_process / <class> <version> <options…>" as a
// device shell command: its words, which the device runs as <sdk>/emulator/sim/display-server
// (outside the sandbox, as Android runs app_process beside the shell). Empty for any other command.
QStringList displayServerWords(const QString& shellCommand);
QString displayServerProgram(const QString& sdk);

// Version names shown in the AVD's display name, as Android's own release names.
QString androidVersionName(int api);

} // namespace SimLayout
