#pragma once

#include "ui/LauncherActions.h"

#include <QStringList>

// Records every call the panel makes, one line each ("launch <name>", "quit"), so that a test can
// see which actions a gesture reached and in which order.
class RecordingLauncherActions : public LauncherActions {
public:
    QStringList calls;
    QStringList presets;

    void launch(const MobileApp& app) override { calls.append(QStringLiteral("launch ") + app.name); }
    void confirmUninstall(const MobileApp& app) override {
        calls.append(QStringLiteral("confirmUninstall ") + app.name);
    }
    void prewarm() override { calls.append(QStringLiteral("prewarm")); }
    void refreshAndroidState() override { calls.append(QStringLiteral("refreshAndroidState")); }
    void syncInstalledApps() override { calls.append(QStringLiteral("syncInstalledApps")); }
    void closeAllApps() override { calls.append(QStringLiteral("closeAllApps")); }
    QStringList windowSizePresets() const override { return presets; }
    void applyWindowSize(int index) override {
        calls.append(QStringLiteral("applyWindowSize %1").arg(index));
    }
    void revealInFileManager(const QString& path) override { calls.append(QStringLiteral("reveal ") + path); }
    void quit() override { calls.append(QStringLiteral("quit")); }
    std::optional<bool> locked; // nothing: no app lock
    std::optional<bool> isLocked(const QUuid&) const override { return locked; }
    void toggleLock(const MobileApp& app) override { calls.append(QStringLiteral("toggleLock ") + app.name); }
    std::optional<bool> inTray; // nothing: the desktop has no tray
    std::optional<bool> isInTray(const QUuid&) const override { return inTray; }
    void toggleInTray(const QUuid&) override { calls.append(QStringLiteral("toggleInTray")); }
    bool backups = false; // whether the menus offer backups
    bool offersBackups() const override { return backups; }
    void backup(const MobileApp& app) override { calls.append(QStringLiteral("backup ") + app.name); }
    void chooseBackupToRestore() override { calls.append(QStringLiteral("chooseBackupToRestore")); }
    void mediaKey(const QUuid& appID, MediaAction action) override {
        calls.append(
            QStringLiteral("mediaKey %1 %2").arg(appID.toString(QUuid::WithoutBraces)).arg(int(action)));
    }
};
