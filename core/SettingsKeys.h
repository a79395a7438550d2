#pragma once

#include "core/VantleSettings.h"

// Every settings key with its type and default. Preferences are "Vantle" + a capitalised name;
// stored data is "Vantle." + a dotted name with a version suffix.
namespace SettingsKeys {

using namespace Qt::Literals::StringLiterals;

// The app library and its bookkeeping.
inline const SettingKey<QByteArray> apps{"Vantle.apps.v1"_L1, {}};        // JSON array of MobileApp
inline const SettingKeyFamily<QByteArray> unreadableApps{"Vantle.apps.v1.unreadable."_L1}; // + time stamp
inline const SettingKey<bool> labelsRefreshed{"Vantle.labels.v1"_L1, false}; // one-time relabelling ran
inline const SettingKeyFamily<QVariantMap> installed{"Vantle.installed."_L1};   // + APK path
inline const SettingKeyFamily<qint64> discoveredAPI{"Vantle.discoveredAPI."_L1}; // + package

// Android.
inline const SettingKey<qint64> androidAPI{"VantleAndroidAPI"_L1, 35};
inline const SettingKey<bool> useDeveloperSDK{"VantleUseDeveloperSDK"_L1, false};
inline const SettingKey<bool> useExternalWindow{"VantleUseExternalWindow"_L1, false};
inline const SettingKey<bool> prewarm{"VantlePrewarm"_L1, true};
inline const SettingKey<bool> singleApp{"VantleSingleApp"_L1, true};
inline const SettingKey<double> idleShutdownMinutes{"VantleIdleShutdownMinutes"_L1, 5.0};
inline const SettingKey<bool> stopAndroidOnQuit{"VantleStopAndroidOnQuit"_L1, true};

// Integrations.
inline const SettingKey<bool> notifications{"VantleNotifications"_L1, true};
inline const SettingKey<bool> notifyAllPackages{"VantleNotifyAllPackages"_L1, false};
inline const SettingKey<bool> desktopNotifications{"VantleMacNotifications"_L1, true};
inline const SettingKey<bool> miniPlayer{"VantleMiniPlayer"_L1, true};
inline const SettingKey<bool> syncDownloads{"VantleSyncDownloads"_L1, true};
inline const SettingKey<bool> syncDarkMode{"VantleSyncDarkMode"_L1, true};
inline const SettingKey<bool> adBlock{"VantleAdBlock"_L1, true};
inline const SettingKey<QLatin1StringView> adBlockHost{"VantleAdBlockHost"_L1, "dns.adguard-dns.com"_L1};
inline const SettingKey<bool> micCamera{"VantleMicCamera"_L1, false};
inline const SettingKey<bool> forwardAudio{"VantleForwardAudio"_L1, true};

// Updates.
inline const SettingKey<bool> checkUpdates{"VantleCheckUpdates"_L1, true};
inline const SettingKey<bool> updatesFDroid{"VantleUpdatesFDroid"_L1, true};
inline const SettingKey<bool> updatesIzzy{"VantleUpdatesIzzy"_L1, true};

// Windows and the user interface.
inline const SettingKey<bool> autoHide{"VantleAutoHide"_L1, true};
inline const SettingKey<bool> appShortcuts{"VantleAppShortcuts"_L1, true};
inline const SettingKey<bool> hotKey{"VantleHotKey"_L1, true};
inline const SettingKey<QLatin1StringView> theme{"VantleTheme"_L1, "classic"_L1};
inline const SettingKey<QLatin1StringView> wallpaper{"VantleWallpaper"_L1, "none"_L1};
inline const SettingKey<qint64> wallpaperRevision{"VantleWallpaperRevision"_L1, 0};
inline const SettingKey<qint64> settingsPage{"VantleSettingsPage"_L1, 0};
inline const SettingKey<bool> showRuntimeSetup{"VantleShowRuntimeSetup"_L1, false};
inline const SettingKey<bool> snapshots{"VantleSnapshots"_L1, false};
inline const SettingKey<bool> printFPS{"VantlePrintFPS"_L1, false};
inline const SettingKey<double> panelWidth{"Vantle.panelWidth"_L1, 390.0};
inline const SettingKey<double> panelHeight{"Vantle.panelHeight"_L1, 760.0};
inline const SettingKey<QVariantList> menuBarApps{"Vantle.menuBarApps.v1"_L1, {}};
inline const SettingKey<QVariantList> lockedApps{"Vantle.lockedApps.v1"_L1, {}};
inline const SettingKey<QVariantList> downloadsSeen{"Vantle.downloads.seen.v1"_L1, {}};
inline const SettingKey<bool> loginItemDefaulted{"Vantle.loginItemDefaulted"_L1, false};
inline const SettingKeyFamily<QVariantMap> window{"Vantle.window."_L1}; // + window key

} // namespace SettingsKeys
