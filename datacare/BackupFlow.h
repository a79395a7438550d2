#pragma once

#include "core/AppLibraryStore.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QUuid>
#include <functional>
#include <optional>

// The library's backup and restore operations: what the tile's "Back up app data…", the panel's
// "Restore from backup…", dropped ".vantle" files and the "backup:" and "restore:" commands do.
// They report to the store's status line and hand the device work (AppBackup) to the Android
// thread pool. One instance, created at start-up; main thread only.
class BackupFlow final : public QObject {
    Q_OBJECT
public:
    // What the flow needs from the application above it. Each may be empty.
    struct Seams {
        // Closes the app's window when one is open, giving the reason ("backup", "restore").
        std::function<void(const QUuid& appID, const QString& reason)> closeWindow;
        // Picks up apps installed inside Android, so that a restored app shows in the library.
        std::function<void()> syncInstalledApps;
        // A desktop notification; `file` is revealed when it is clicked (empty: none).
        std::function<void(const QString& title, const QString& subtitle, const QString& body,
                           const QString& file)>
            notify;
        // Shows the file in the file manager, selected where the file manager allows it.
        std::function<void(const QString& path)> reveal;
        // The backup file the user picks, starting in `folder`; nothing when cancelled.
        std::function<std::optional<QString>(const QString& title, const QString& folder)> chooseFile;
    };

    explicit BackupFlow(AppLibraryStore& store, Seams seams = {}, QObject* parent = nullptr);

    void backup(const MobileApp& app);
    void chooseBackupToRestore();
    void restoreBackup(const QString& path);

    // How many backups and restores are under way.
    int running() const { return m_running; }

Q_SIGNALS:
    void finished(); // one backup or restore ended, whatever its outcome

private:
    QCoro::Task<> runBackup(MobileApp app, QString package);
    QCoro::Task<> runRestore(QString path);
    // Boots Android when needed. False when it cannot start: the status line says so and the
    // operation has ended; also false when the flow went away meanwhile.
    QCoro::Task<bool> startAndroid();
    void end();

    AppLibraryStore& m_store;
    Seams m_seams;
    int m_running = 0;
};
