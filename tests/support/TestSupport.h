#pragma once

#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "platform/linux/SettingsFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <memory>

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

// Writes `bytes` to `path`, making its folder; returns whether it worked.
inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    return !executable || file.setPermissions(file.permissions() | QFile::ExeOwner);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The description() of the `Error` that `action` throws, or "(nothing thrown)".
template <typename Error, typename Action> QString thrownDescription(Action&& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.description();
    }
    return QStringLiteral("(nothing thrown)");
}

#include <QThreadPool>

// Runs blocking `work` on `pool` while this thread's event loop keeps serving; returns its result.
template <typename Work>
auto offThread(Work work, QThreadPool* pool = QThreadPool::globalInstance(), int timeoutMs = 60000) {
    auto future = QtConcurrent::run(pool, std::move(work));
    waitUntil([&] { return future.isFinished(); }, timeoutMs);
    return future.result();
}

#include <QProcess>

// vantlectl, built beside the test programs, run to its end in `folder` while this thread's event
// loop serves: its exit status (-1 when it crashed) and what it wrote to standard error.
struct VantlectlRun {
    int status = -1;
    QString errors;
};
inline VantlectlRun vantlectl(const QStringList& arguments, const QString& folder = {}) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../../app/vantlectl"), arguments);
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError())};
}

#include <QMenu>

// A menu's entries without separators, triggering the one named `trigger` on the way.
inline QStringList menuTexts(const QMenu& menu, const QString& trigger = {}) {
    QStringList texts;
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator()) texts.append(action->text());
        if (!trigger.isEmpty() && action->text() == trigger) action->trigger();
    }
    return texts;
}

#include <QCheckBox>
#include <QComboBox>

// Sets the control named `key` under `page` as the user would: a switch is clicked when it differs, a
// choice is picked by its data. False when there is no such control or choice.
inline bool setControl(const QWidget& page, const QString& key, const QVariant& value) {
    if (auto* box = page.findChild<QCheckBox*>(key)) {
        if (box->isChecked() != value.toBool()) box->click();
        return true;
    }
    auto* combo = page.findChild<QComboBox*>(key);
    const int index = combo ? combo->findData(value) : -1;
    if (index < 0) return false;
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
    return true;
}
