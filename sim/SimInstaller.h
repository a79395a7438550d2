#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Lays out the simulated Android as the managed runtime of a Vantle home: the SDK folder with the
// simulator's tools at the places of Google's SDK, the system image, the virtual device files
// exactly as Vantle's provisioner writes them, runtime-manifest.json and the licence text. To
// Vantle the result looks like an Android it downloaded itself.
// Which adb platform-tools/adb is: Google's (Debian's `adb` package) when the machine has it, so
// that Vantle meets the real client and server; Vantle's stand-in, which knows only the commands
// Vantle sends, when it has not or when asked for.
enum class SimAdb { googleWhenAvailable, standIn };

struct SimInstallRequest {
    QString runtimeRoot; // Locations::runtime()
    QString toolsFolder; // where the built simulator executables are
    int api = 35;
    std::optional<int> bootDelayMs;
    std::optional<int> networkDelayMs;
    SimAdb adb = SimAdb::googleWhenAvailable;
};

namespace SimInstaller {

inline constexpr int minimumApi = 30;
inline constexpr int maximumApi = 36;

// The Android commands the device shell finds in /system/bin (all one executable).
const QStringList& deviceCommands();

// Google's adb as Debian installs it; empty when the machine does not have it.
QString googleAdb();
// Whether the SDK's platform-tools/adb is Google's adb.
bool usesGoogleAdb(const QString& sdk);

// Installs or refreshes the simulated runtime. Returns an error text, empty on success.
QString install(const SimInstallRequest& request);

// The folder of the simulator executables for a vantlectl in `executableFolder` (a build tree's or
// an installed one's), VANTLE_SIM_TOOLS first when set; empty when none holds them.
QString findTools(const QString& executableFolder);

// Deletes the device's data (a factory reset); refused while its emulator runs.
QString wipe(const QString& runtimeRoot, int api);

} // namespace SimInstaller
