#pragma once

#include "ui/SettingsActions.h"

#include <QStringList>

// Records what the settings pages ask of the application, one line each ("deleteAndroidVersion 34").
class RecordingSettingsActions final : public SettingsActions {
public:
    QStringList calls;
    QString unavailableReason;             // what the desktop says about global shortcuts
    std::function<void(int api)> onDelete; // the real deletion, where a test has one
    std::function<void()> onCheckNow;      // the real check, likewise

    void switchAndroidVersion(int api) override {
        calls.append(QStringLiteral("switchAndroidVersion %1").arg(api));
    }
    void deleteAndroidVersion(int api) override {
        calls.append(QStringLiteral("deleteAndroidVersion %1").arg(api));
        if (onDelete) onDelete(api);
    }
    void checkUpdatesNow() override {
        calls.append(QStringLiteral("checkUpdatesNow"));
        if (onCheckNow) onCheckNow();
    }
    void composeBugReport() override { calls.append(QStringLiteral("composeBugReport")); }
    void uninstallVantle() override { calls.append(QStringLiteral("uninstallVantle")); }
    QString shortcutsUnavailableReason() const override { return unavailableReason; }
};
