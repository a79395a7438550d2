#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "platform/linux/SettingsFile.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"

#include <QStringList>
#include <algorithm>

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

// The lines of the main log written since this object was made, without their time stamps.
struct MainLogSince {
    static QStringList all() {
        return VantleLog::main().tail(1'000'000).value_or(QString()).split(u'\n', Qt::SkipEmptyParts);
    }
    qsizetype start = all().size();
    QStringList lines() const { return all().mid(start); }
    qsizetype count(const QString& prefix) const {
        const QStringList written = lines();
        return std::count_if(written.cbegin(), written.cend(),
                             [&](const QString& line) { return line.startsWith(prefix); });
    }
};

#include "platform/CommandChannel.h"

#include <QtConcurrent/QtConcurrentRun>

// Sends a command to a listener of this very process: the sender blocks, so it runs on another
// thread while this one serves the listener.
inline CommandDelivery sendFromAnotherThread(const QString& command, int timeoutMs = 3000) {
    QFuture<CommandDelivery> sent =
        QtConcurrent::run([command, timeoutMs] { return sendCommand(command, timeoutMs); });
    waitUntil([&] { return sent.isFinished(); }, timeoutMs * 3 + 1000);
    sent.waitForFinished();
    return sent.result();
}

#include <QDir>
#include <QFile>
#include <QFileInfo>

// Writes `bytes` to `path`, making its folder; false when it cannot.
inline bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
// A file's bytes; empty when it cannot be read.
inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
