#pragma once

#include "core/Models.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

enum class AndroidState { ready, starting, sleeping, notSetUp };

// The one store of the app library and of what the user interface shows about it. Created once
// at start-up; main thread only. Every change of a field emits its change signal; every change of
// `apps` is saved to the settings at once.
class AppLibraryStore final : public QObject {
    Q_OBJECT
public:
    // What the store needs from parts built on top of it. Each may be empty.
    struct Seams {
        // The APK's label, or nothing. Called on the main thread and from background tasks.
        std::function<std::optional<QString>(const QString& apkPath)> readLabel;
        // Starts restoring a backup file; called on the main thread.
        std::function<void(const QString& backupPath)> restoreBackup;
    };

    // Loads the library from the settings and saves it straight back.
    explicit AppLibraryStore(Seams seams = {}, QObject* parent = nullptr);

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
    const QStringList& hiddenForShots() const { return m_hiddenForShots; }
    void setHiddenForShots(const QStringList& fragments);

    void save() const;
    // Favourites first, then the rest; each group by display name, locale-aware and
    // case-insensitive; entries with equal names keep library order.
    QList<MobileApp> orderedApps() const;
    // What the panel's grid shows, in library order: entries not hidden for shots whose name
    // contains the search text (case-insensitive, the text used as typed).
    QList<MobileApp> filteredApps() const;

    void toggleFavorite(const MobileApp& app);
    void remove(const MobileApp& app);
    void replaceSource(const QUuid& id, const QUrl& url, const QString& package);
    void addFiles(const QList<QUrl>& urls);
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
    void hiddenForShotsChanged();

private:
    void load();
    void addFile(const QUrl& url);
    void applyLabels(const QList<QPair<QUuid, QString>>& labels);

    Seams m_seams;
    QList<MobileApp> m_apps;
    QString m_search;
    QString m_statusMessage;
    QSet<QUuid> m_runningAppIDs;
    std::optional<QUuid> m_launchingAppID;
    AndroidState m_androidState = AndroidState::notSetUp; // until the runtime says otherwise
    QSet<QUuid> m_unreadAppIDs;
    QStringList m_hiddenForShots;
};
