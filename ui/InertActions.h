#pragma once

#include "ui/LauncherActions.h"
#include "ui/SettingsActions.h"

// Actions with nothing behind them, for the programs that show the panel without an application
// around it (the panel's screenshots, the benchmarks): every request is taken and dropped.
class InertLauncherActions : public LauncherActions {
public:
    void launch(const MobileApp&) override {}
    void confirmUninstall(const MobileApp&) override {}
    void prewarm() override {}
    void refreshAndroidState() override {}
    void syncInstalledApps() override {}
    void closeAllApps() override {}
    QStringList windowSizePresets() const override { return {}; }
    void applyWindowSize(int) override {}
    void revealInFileManager(const QString&) override {}
    void quit() override {}
};

class InertSettingsActions : public SettingsActions {
public:
    void switchAndroidVersion(int) override {}
    void deleteAndroidVersion(int) override {}
    void checkUpdatesNow() override {}
    void composeBugReport() override {}
    void uninstallVantle() override {}
    QString shortcutsUnavailableReason() const override { return {}; }
};
