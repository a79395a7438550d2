#include "datacare/BackupFlow.h"

#include "core/VantleLog.h"
#include "datacare/AppBackup.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"

#include <QCoro/QCoroFuture>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent>

using namespace Qt::Literals::StringLiterals;

namespace {

// The Android package of a library entry: its own, else the one its APK was installed as.
std::optional<QString> packageOf(const MobileApp& app) {
    if (app.platform != MobilePlatform::android) return std::nullopt;
    if (app.bundleIdentifier) return app.bundleIdentifier;
    return AndroidRuntimeCLI::knownPackage(app.sourcePath);
}

} // namespace

BackupFlow::BackupFlow(AppLibraryStore& store, Seams seams, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_seams(std::move(seams)) {}

void BackupFlow::backup(const MobileApp& app) {
    const std::optional<QString> package = packageOf(app);
    if (!package || !AndroidRuntimeCLI::isValidPackageName(*package)) {
        m_store.setStatusMessage(u"Open "_s + app.displayName() + u" once first"_s);
        return;
    }
    // Its files stay quiet while they are copied.
    if (m_seams.closeWindow) m_seams.closeWindow(app.id, u"backup"_s);
    m_store.setStatusMessage(u"Backing up "_s + app.displayName() + u"…"_s);
    ++m_running;
    runBackup(app, *package);
}

void BackupFlow::chooseBackupToRestore() {
    if (!m_seams.chooseFile) return;
    const std::optional<QString> path =
        m_seams.chooseFile(u"Restore an app from a Vantle backup"_s, AppBackup::folder());
    if (path) restoreBackup(*path);
}

void BackupFlow::restoreBackup(const QString& path) {
    m_store.setStatusMessage(u"Restoring "_s + QFileInfo(path).fileName() + u"…"_s);
    ++m_running;
    runRestore(path);
}

void BackupFlow::end() {
    --m_running;
    Q_EMIT finished();
}

QCoro::Task<bool> BackupFlow::startAndroid() {
    const QPointer<BackupFlow> alive(this);
    bool started = true;
    try {
        QCoro::Task<> booting = AndroidRuntimeCLI::ensureRuntime();
        co_await std::move(booting);
    } catch (const std::exception&) {
        started = false;
    }
    if (!alive) co_return false;
    if (!started) {
        m_store.setStatusMessage(u"Android could not start"_s);
        end();
    }
    co_return started;
}

QCoro::Task<> BackupFlow::runBackup(MobileApp app, QString package) {
    const QPointer<BackupFlow> alive(this); // a task may outlive the flow
    const QString name = app.displayName();
    if (!co_await startAndroid() || !alive) co_return;
    QFuture<AppBackup::Outcome> work = QtConcurrent::run(
        &AndroidRuntimeCLI::pool(), [package, name] { return AppBackup::backup(package, name); });
    const AppBackup::Outcome outcome = co_await work;
    if (!alive) co_return;
    if (outcome.isDone()) {
        m_store.setStatusMessage(u"Backed up "_s + name);
        if (m_seams.notify)
            m_seams.notify(u"Backup saved"_s, name, u"Documents › Vantle Backups"_s, outcome.file);
        if (m_seams.reveal) m_seams.reveal(outcome.file);
    } else {
        m_store.setStatusMessage(outcome.message);
        VantleLog::main().write(u"backup failed: "_s + VantleLog::escaped(outcome.message));
    }
    end();
}

QCoro::Task<> BackupFlow::runRestore(QString path) {
    const QPointer<BackupFlow> alive(this);
    if (!co_await startAndroid() || !alive) co_return;
    QFuture<AppBackup::RestoreResult> work =
        QtConcurrent::run(&AndroidRuntimeCLI::pool(), [path] { return AppBackup::restore(path); });
    const AppBackup::RestoreResult result = co_await work;
    if (!alive) co_return;
    // The app restarts on its restored data.
    if (result.package && m_seams.closeWindow)
        for (const MobileApp& app : m_store.apps())
            if (packageOf(app) == result.package) m_seams.closeWindow(app.id, u"restore"_s);
    if (result.outcome.isDone()) {
        m_store.setStatusMessage(u"Restored "_s + result.package.value_or(u"app"_s));
        if (m_seams.syncInstalledApps) m_seams.syncInstalledApps();
        if (m_seams.notify)
            m_seams.notify(u"App restored"_s, result.package.value_or(QString()), u"Its data is back"_s,
                           QString());
    } else {
        m_store.setStatusMessage(result.outcome.message);
        VantleLog::main().write(u"restore failed: "_s + VantleLog::escaped(result.outcome.message));
    }
    end();
}
