#pragma once

#include "core/AndroidMedia.h"
#include "core/Models.h"

#include <QString>
#include <QStringList>
#include <optional>

// What the panel asks of the application above it: opening, uninstalling, Android's warm-up and
// state, closing windows, backups and quitting. The panel only calls; the application decides what each
// does. Main thread only.
class LauncherActions {
public:
    virtual ~LauncherActions() = default;

    virtual void launch(const MobileApp& app) = 0;
    // Asks the user first; removes the entry only after the app left Android.
    virtual void confirmUninstall(const MobileApp& app) = 0;
    // The panel became the active window: Android may start in the background.
    virtual void prewarm() = 0;
    // The launcher appeared: re-read Android's state and pick up apps installed inside Android.
    virtual void refreshAndroidState() = 0;
    virtual void syncInstalledApps() = 0;
    virtual void closeAllApps() = 0;
    // Labels of the window sizes on offer, in order; empty while there are none.
    virtual QStringList windowSizePresets() const = 0;
    virtual void applyWindowSize(int index) = 0;
    // Shows the file in the desktop's file manager, selected where the file manager allows it.
    virtual void revealInFileManager(const QString& path) = 0;
    virtual void quit() = 0;
    // The app lock, where the application has one: nothing without it, else whether the entry is
    // locked; toggling asks for the owner's authentication first.
    virtual std::optional<bool> isLocked(const QUuid&) const { return std::nullopt; }
    virtual void toggleLock(const MobileApp&) {}
    // The app's own item in the system tray: nothing where the desktop has no tray, else whether the
    // app is pinned there.
    virtual std::optional<bool> isInTray(const QUuid&) const { return std::nullopt; }
    virtual void toggleInTray(const QUuid&) {}
    // App data backups: offered in the menus only when the application has them.
    virtual bool offersBackups() const { return false; }
    virtual void backup(const MobileApp&) {}
    virtual void chooseBackupToRestore() {}
    // A media key for the app's window (the dock's play/pause); nothing when it has no window.
    virtual void mediaKey(const QUuid&, MediaAction) {}
};
