#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "platform/linux/SettingsFile.h"
#include "core/VantleSettings.h"

// Runs the event loop until `done` holds or `timeoutMs` passes; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A fresh settings file in its own temporary folder, installed as the store of VantleSettings
// for the lifetime of the object.
struct ScopedSettings {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("settings.json"));
    std::shared_ptr<SettingsFile> file = std::make_shared<SettingsFile>(path);
    ScopedSettings() { VantleSettings::install(file); }
    ~ScopedSettings() { VantleSettings::install(nullptr); }
    // Reopens the file from disk, as the next run of Vantle would.
    void reopen() {
        file = std::make_shared<SettingsFile>(path);
        VantleSettings::install(file);
    }
};
