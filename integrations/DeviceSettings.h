#pragma once

#include "runtime/AndroidRuntimePaths.h"

#include <QList>
#include <QString>

#include <optional>

class QObject;

// Keeping Vantle's Android in line with the user's settings on this computer. Every operation
// that talks to the device blocks on adb: call it from a pool thread.

namespace AndroidAdBlock {
struct Provider {
    QString label;
    QString host; // DNS-over-TLS host written into Android's Private DNS setting
};
const QList<Provider>& providers(); // in the order the settings page offers them; the first is the default
QString host();                     // the stored choice, else the default provider's host
void apply();
} // namespace AndroidAdBlock

namespace AndroidDarkMode {
enum class Override { none, dark, light };
void setOverride(Override value); // the "appearance:" command; none follows the desktop again
bool desktopIsDark();             // the override when set, else the desktop's preference (light when unknown)
void apply();
// Re-applies dark mode 0.4 s after each change of the desktop's preference. Main thread, once.
void startObserving(QObject* context);
} // namespace AndroidDarkMode

namespace AndroidVolume {
// Raises the music and notification streams to their maximum.
void maximize();
// The maximum of a "cmd media_session volume --get" answer ("... [0..15]"), or nothing.
std::optional<int> maximumFromVolumeQuery(const QString& output);
} // namespace AndroidVolume

namespace AndroidHardware {
// Writes the microphone, camera and audio settings into the AVD's config.ini (read at its start).
void apply(const AndroidRuntimePaths& paths);
// The config.ini text with each key set: the first "key=" line replaced, else a line appended.
QString withSettings(const QString& config, const QList<std::pair<QString, QString>>& settings);
} // namespace AndroidHardware

// Makes every emulator boot apply these settings: hardware before the launch, then dark mode,
// volume and ad blocking once it has booted. Main thread, at start-up.
void installDeviceSettingsBootHooks();
