#pragma once

#include "core/AndroidMedia.h"
#include "core/ApkReading.h"
#include "core/Models.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <optional>

enum class AndroidState { ready, starting, sleeping, notSetUp };

// The one store of the app library and of what the user interface shows about it. Created once
// at start-up; main thread only. Every change of a field emits its change signal. A change of
// `apps` is saved at once, unless a save happened less than `saveQuietMs` ago: then one save at
// the end of that time carries every change made meanwhile (each save rewrites and syncs the
// whole settings file). Destroying the store writes a save still pending.
class AppLibraryStore final : public QObject {
    Q_OBJECT
public:
    static constexpr int saveQuietMs = 250;

    // What the store needs from parts built on top of it. Each may be empty.
    struct Seams {
        // Starts restoring a backup file; called on the main thread.
        std::function<void(const QString& backupPath)> restoreBackup;
        // Whether a readable file is an APK, with its label. Called from background tasks.
        // Without it every readable file counts as one, without a label. The label refresh of
        // the library reads labels through it too.
        std::function<ApkReading(const QString& path)> readApk;
    };

    // Loads the library from the settings and saves it straight back. Entries that cannot be
    // read, and a library that cannot be read at all, are kept aside in the settings, once, and
    // `statusMessage` says so; so does a settings file that could not be read.
    explicit AppLibraryStore(Seams seams = {}, QObject* parent = nullptr);
    ~AppLibraryStore() override;

    const QList<MobileApp>& apps() const { return m_apps; }
    void setApps(QList<MobileApp> apps); // saves
    const QString& search() const { return m_search; }
    void setSearch(const QString& search);
    const QString& statusMessage() const { return m_statusMessage; }
    void setStatusMessage(const QString& message);
    const QSet<QUuid>& runningAppIDs() const { return m_runningAppIDs; }
    void setRunningAppIDs(const QSet<QUuid>& ids);
    std::optional<QUuid> launchingAppID() const { return m_launchingAppID; }
    void setLaunchingAppID(std::optional<QUuid> id);
    AndroidState androidState() const { return m_androidState; }
    void setAndroidState(AndroidState state);
    const QSet<QUuid>& unreadAppIDs() const { return m_unreadAppIDs; }
    void setUnreadAppIDs(const QSet<QUuid>& ids);
    // What some app plays and which entry it is; both set together, and both signals follow.
    const std::optional<AndroidMedia>& nowPlaying() const { return m_nowPlaying; }
    std::optional<QUuid> nowPlayingAppID() const { return m_nowPlayingAppID; }
    void setNowPlaying(const std::optional<AndroidMedia>& media, std::optional<QUuid> appID);
    // Whether the mirror mode's one player window shows ("--android-player").
    bool showAndroidPlayer() const { return m_showAndroidPlayer; }
    void setShowAndroidPlayer(bool show);
    const QStringList& hiddenForShots() const { return m_hiddenForShots; }
    void setHiddenForShots(const QStringList& fragments);

    // Writes `apps` now. A failure keeps the library in memory, is logged and shown as
    // "Could not save your library: " + the reason; the next change (or quitting) tries again.
    bool save();
    // Writes a save still waiting for its quiet time, or one that failed; for quitting.
    void writePendingSave();
    // Favourites first, then the rest; each group by display name, locale-aware and
    // case-insensitive; entries with equal names keep library order.
    QList<MobileApp> orderedApps() const;
    // What the panel's grid shows, in library order: entries not hidden for shots whose name
    // contains the search text (case-insensitive, the text used as typed).
    QList<MobileApp> filteredApps() const;

    void toggleFavorite(const MobileApp& app);
    void remove(const MobileApp& app);
    void replaceSource(const QUuid& id, const QUrl& url, const QString& package);
    // Adds APK files, in the order given, after each is read in the background: only readable
    // APKs, stored under their canonical path (so "./a.apk", "a//a.apk" and a link to a library
    // APK are the same file). Every file's outcome goes to `statusMessage`. Paths must be
    // absolute: a relative one has no meaning in this process and is refused.
    void addFiles(const QList<QUrl>& urls);
    // Whether files given to addFiles are still being read; `filesAdded` follows when done.
    bool isAddingFiles() const { return m_addingFiles; }
    // Relabels every Android entry from its APK, once per user; the reading runs in the background.
    void refreshAndroidNames();

    std::optional<MobileApp> app(const QUuid& id) const;

Q_SIGNALS:
    void appsChanged();
    void searchChanged();
    void statusMessageChanged();
    void runningAppIDsChanged();
    void launchingAppIDChanged();
    void androidStateChanged();
    void unreadAppIDsChanged();
    void nowPlayingChanged();
    void nowPlayingAppIDChanged();
    void showAndroidPlayerChanged();
    void hiddenForShotsChanged();
    void filesAdded();

private:
    struct Inspection;
    void load();
    QString keepAside(const QByteArray& bytes);
    void appsEdited(); // signal and save
    void scheduleSave();
    QCoro::Task<> addPendingFiles();
    bool screen(const QString& path);
    void finishAdd(const QString& path, const Inspection& inspection);
    void applyLabels(const QList<QPair<QUuid, QString>>& labels);

    Seams m_seams;
    QList<MobileApp> m_apps;
    QString m_search;
    QString m_statusMessage;
    QSet<QUuid> m_runningAppIDs;
    std::optional<QUuid> m_launchingAppID;
    AndroidState m_androidState = AndroidState::notSetUp; // until the runtime says otherwise
    QSet<QUuid> m_unreadAppIDs;
    std::optional<AndroidMedia> m_nowPlaying;
    std::optional<QUuid> m_nowPlayingAppID;
    bool m_showAndroidPlayer = false;
    QStringList m_hiddenForShots;

    QStringList m_pendingAdds; // paths given to addFiles, not yet taken up
    bool m_addingFiles = false;
    QTimer m_saveQuiet;         // runs for saveQuietMs after each save
    bool m_savePending = false; // a change waits for the quiet time to end
    bool m_saveFailed = false;  // the last save did not reach the disk
};
