#include "core/AppLibraryStore.h"

#include "core/LibraryFile.h"
#include "core/SettingsKeys.h"
#include "core/VantleError.h"
#include "core/VantleLog.h"

#include <QCollator>
#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Assigns and emits the change signal only when the value really changed.
template <typename T, typename Signal>
void assign(AppLibraryStore* store, T& field, const T& value, Signal signal) {
    if (field == value) return;
    field = value;
    Q_EMIT(store->*signal)();
}

constexpr auto saveFailedPrefix = "Could not save your library: "_L1;

// Case-insensitive containment; an empty needle is contained nowhere.
bool containsText(const QString& haystack, const QString& needle) {
    return !needle.isEmpty() && haystack.contains(needle, Qt::CaseInsensitive);
}

} // namespace

AppLibraryStore::AppLibraryStore(Seams seams, QObject* parent)
    : QObject(parent)
    , m_seams(std::move(seams))
    , m_statusMessage(u"Ready"_s) {
    m_saveQuiet.setSingleShot(true);
    m_saveQuiet.setInterval(saveQuietMs);
    connect(&m_saveQuiet, &QTimer::timeout, this, [this] {
        if (!m_savePending) return;
        m_savePending = false;
        save();
        m_saveQuiet.start();
    });
    load();
}

AppLibraryStore::~AppLibraryStore() {
    writePendingSave();
}

void AppLibraryStore::load() {
    // Nobody observes the store yet: the fields are set without signals.
    if (const QString problem = VantleSettings::store().problem(); !problem.isEmpty())
        m_statusMessage = problem;
    const auto stored = VantleSettings::readData(SettingsKeys::apps.key());
    if (!stored) return;
    LibraryCoding::Decoded decoded = LibraryCoding::decode(*stored);
    m_apps = std::move(decoded.apps);
    if (!decoded.isArray) {
        const QString aside = keepAside(*stored);
        VantleLog::main().write(u"library: stored library could not be decoded; kept as "_s + aside);
        m_statusMessage = u"Your library could not be read; it was kept in the settings as "_s + aside;
    } else if (const qsizetype unreadable = decoded.unreadable.size(); unreadable > 0) {
        const QString aside = keepAside('[' + decoded.unreadable.join(',') + ']');
        const QString counts =
            QString::number(unreadable) + u" of "_s + QString::number(unreadable + m_apps.size());
        VantleLog::main().write(u"library: "_s + counts + u" entries could not be decoded; kept as "_s +
                                aside);
        m_statusMessage =
            counts + u" library entries could not be read; they were kept in the settings as "_s + aside;
    }
    // Saved back at once, so that what was kept aside is not found, and kept again, at the next start.
    save();
}

// Stores bytes of the library that could not be read under a key of their own, never replacing
// an earlier one; returns the key.
QString AppLibraryStore::keepAside(const QByteArray& bytes) {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd-HHmmss"_s);
    QString key = SettingsKeys::unreadableApps.key(stamp);
    for (int n = 2; VantleSettings::store().value(key).isValid(); ++n)
        key = SettingsKeys::unreadableApps.key(stamp + u'-' + QString::number(n));
    VantleSettings::set(key, bytes); // a failed write stays in memory and goes out with the next one
    return key;
}

bool AppLibraryStore::save() {
    const SettingsWrite written = VantleSettings::set(SettingsKeys::apps, LibraryCoding::encode(m_apps));
    if (!written) {
        VantleLog::main().write(u"library: save failed entries="_s + QString::number(m_apps.size()) +
                                u" reason="_s + written.error);
        m_saveFailed = true;
        setStatusMessage(saveFailedPrefix + written.error);
        return false;
    }
    if (m_saveFailed) {
        m_saveFailed = false;
        VantleLog::main().write(u"library: saved again entries="_s + QString::number(m_apps.size()));
        if (m_statusMessage.startsWith(saveFailedPrefix)) setStatusMessage(u"Your library is saved again"_s);
    }
    return true;
}

void AppLibraryStore::scheduleSave() {
    if (m_saveQuiet.isActive()) {
        m_savePending = true;
        return;
    }
    save();
    m_saveQuiet.start();
}

void AppLibraryStore::writePendingSave() {
    if (!m_savePending && !m_saveFailed) return;
    m_savePending = false;
    m_saveQuiet.stop();
    save();
}

void AppLibraryStore::appsEdited() {
    scheduleSave();
    Q_EMIT appsChanged();
}

void AppLibraryStore::setApps(QList<MobileApp> apps) {
    if (apps == m_apps) return;
    m_apps = std::move(apps);
    appsEdited();
}

void AppLibraryStore::setSearch(const QString& search) {
    assign(this, m_search, search, &AppLibraryStore::searchChanged);
}
void AppLibraryStore::setStatusMessage(const QString& message) {
    assign(this, m_statusMessage, message, &AppLibraryStore::statusMessageChanged);
}
void AppLibraryStore::setRunningAppIDs(const QSet<QUuid>& ids) {
    assign(this, m_runningAppIDs, ids, &AppLibraryStore::runningAppIDsChanged);
}
void AppLibraryStore::setLaunchingAppID(std::optional<QUuid> id) {
    assign(this, m_launchingAppID, id, &AppLibraryStore::launchingAppIDChanged);
}
void AppLibraryStore::setAndroidState(AndroidState state) {
    assign(this, m_androidState, state, &AppLibraryStore::androidStateChanged);
}
void AppLibraryStore::setUnreadAppIDs(const QSet<QUuid>& ids) {
    assign(this, m_unreadAppIDs, ids, &AppLibraryStore::unreadAppIDsChanged);
}
void AppLibraryStore::setNowPlaying(const std::optional<AndroidMedia>& media, std::optional<QUuid> appID) {
    // Both fields change before either signal: an observer of one reads the other's new value.
    const bool mediaChanged = std::exchange(m_nowPlaying, media) != media;
    const bool appChanged = std::exchange(m_nowPlayingAppID, appID) != appID;
    if (mediaChanged) Q_EMIT nowPlayingChanged();
    if (appChanged) Q_EMIT nowPlayingAppIDChanged();
}
void AppLibraryStore::setShowAndroidPlayer(bool show) {
    assign(this, m_showAndroidPlayer, show, &AppLibraryStore::showAndroidPlayerChanged);
}
void AppLibraryStore::setHiddenForShots(const QStringList& fragments) {
    assign(this, m_hiddenForShots, fragments, &AppLibraryStore::hiddenForShotsChanged);
}

QList<MobileApp> AppLibraryStore::orderedApps() const {
    // Folding case before collating keeps the order case-insensitive on every collation backend
    // (the POSIX one ignores setCaseSensitivity).
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Sort keys once per entry instead of comparing display names on every step of the sort.
    struct Keyed {
        QCollatorSortKey key;
        const MobileApp* app;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(m_apps.size()));
    for (const MobileApp& app : m_apps)
        keyed.push_back({collator.sortKey(app.displayName().toCaseFolded()), &app});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.app->isFavorite != b.app->isFavorite) return a.app->isFavorite;
        return a.key.compare(b.key) < 0;
    });
    QList<MobileApp> ordered;
    ordered.reserve(m_apps.size());
    for (const Keyed& entry : keyed)
        ordered.append(*entry.app);
    return ordered;
}

QList<MobileApp> AppLibraryStore::filteredApps() const {
    QList<MobileApp> shown;
    for (const MobileApp& app : m_apps) {
        const bool hidden =
            std::any_of(m_hiddenForShots.cbegin(), m_hiddenForShots.cend(),
                        [&](const QString& fragment) { return containsText(app.name, fragment); });
        if (hidden) continue;
        if (m_search.isEmpty() || containsText(app.name, m_search)) shown.append(app);
    }
    return shown;
}

std::optional<MobileApp> AppLibraryStore::app(const QUuid& id) const {
    for (const MobileApp& app : m_apps)
        if (app.id == id) return app;
    return std::nullopt;
}

void AppLibraryStore::toggleFavorite(const MobileApp& app) {
    auto it = std::find_if(m_apps.begin(), m_apps.end(), [&](const MobileApp& a) { return a.id == app.id; });
    if (it == m_apps.end()) return;
    it->isFavorite = !it->isFavorite;
    appsEdited();
}

void AppLibraryStore::remove(const MobileApp& app) {
    m_apps.removeIf([&](const MobileApp& a) { return a.id == app.id; });
    setStatusMessage(u"Removed "_s + app.name); // before saving, so that a failed save is what shows
    appsEdited();
}

void AppLibraryStore::replaceSource(const QUuid& id, const QUrl& url, const QString& package) {
    auto it = std::find_if(m_apps.begin(), m_apps.end(), [&](const MobileApp& a) { return a.id == id; });
    if (it == m_apps.end()) return;
    it->sourcePath = url.toLocalFile();
    it->bundleIdentifier = package;
    appsEdited();
}

// What the background read of one file found.
struct AppLibraryStore::Inspection {
    LibraryFile file;
    ApkReading apk;
};

void AppLibraryStore::addFiles(const QList<QUrl>& urls) {
    for (const QUrl& url : urls)
        m_pendingAdds.append(url.toLocalFile());
    if (m_addingFiles) return; // the running task takes these up too
    m_addingFiles = true;
    addPendingFiles();
}

// One file at a time, in the order given, so that entries and messages keep that order.
QCoro::Task<> AppLibraryStore::addPendingFiles() {
    const QPointer<AppLibraryStore> alive(this); // the task may outlive the store
    while (!m_pendingAdds.isEmpty()) {
        const QString path = m_pendingAdds.takeFirst();
        if (!screen(path)) continue;
        auto reading = QtConcurrent::run([path, readApk = m_seams.readApk] {
            Inspection inspection{LibraryFile::locate(path), {}};
            if (inspection.file.kind != LibraryFile::Kind::file) return inspection;
            const QString& file = inspection.file.canonicalPath;
            inspection.apk = readApk ? readApk(file) : ApkReading{true, std::nullopt};
            return inspection;
        });
        // A reader that throws costs this file only, never the adds after it.
        std::optional<Inspection> inspection;
        std::exception_ptr failure;
        try {
            inspection = co_await reading;
        } catch (...) {
            failure = std::current_exception();
        }
        if (!alive) co_return;
        if (failure) {
            const QString reason = VantleError::describe(failure);
            VantleLog::main().write(u"library: reading failed path="_s + VantleLog::escaped(path) +
                                    u" reason="_s + VantleLog::escaped(reason));
            setStatusMessage(QFileInfo(path).fileName() + u" cannot be read: "_s + reason);
            continue;
        }
        finishAdd(path, *inspection);
    }
    m_addingFiles = false;
    Q_EMIT filesAdded();
}

// The checks that need no file access. False when the file is not to be read: it was handled or
// refused here, with its message.
bool AppLibraryStore::screen(const QString& path) {
    // First, so that neither a backup restore nor a message gets a path relative to Vantle's own
    // folder. Only the sender knows which folder a relative path starts from (vantlectl completes them).
    if (!QDir::isAbsolutePath(path)) {
        setStatusMessage(u"Skipped "_s + path + u": give the file's full path"_s);
        return false;
    }
    const QFileInfo file(path);
    const QString extension = file.suffix().toLower();
    if (extension == u"vantle"_s) {
        if (!m_seams.restoreBackup) {
            setStatusMessage(u"Skipped "_s + file.fileName() + u": restoring backups is not available yet"_s);
            return false;
        }
        setStatusMessage(u"Restoring "_s + file.completeBaseName() + u"…"_s);
        m_seams.restoreBackup(path);
        return false;
    }
    if (extension != u"apk"_s) {
        setStatusMessage(u"Skipped "_s + file.fileName() + u": choose an APK"_s);
        return false;
    }
    return true;
}

void AppLibraryStore::finishAdd(const QString& path, const Inspection& inspection) {
    const QFileInfo given(path); // messages and the fallback name use the name the user gave
    switch (inspection.file.kind) {
    case LibraryFile::Kind::missing:
        setStatusMessage(given.fileName() + u" does not exist"_s);
        return;
    case LibraryFile::Kind::unreadable:
        setStatusMessage(given.fileName() + u" cannot be read: "_s + inspection.file.reason);
        return;
    case LibraryFile::Kind::folder:
    case LibraryFile::Kind::special:
        setStatusMessage(given.fileName() + u" is not an Android app (APK) file"_s);
        return;
    case LibraryFile::Kind::file:
        break;
    }
    if (!inspection.apk.isApk) {
        setStatusMessage(given.fileName() + u" is not an Android app (APK) file"_s);
        return;
    }
    const QString& canonical = inspection.file.canonicalPath;
    if (std::any_of(m_apps.cbegin(), m_apps.cend(),
                    [&](const MobileApp& a) { return a.sourcePath == canonical; })) {
        setStatusMessage(u"Already in library: "_s + given.completeBaseName());
        return;
    }
    MobileApp app;
    app.id = QUuid::createUuid();
    app.name = inspection.apk.label.value_or(given.completeBaseName());
    app.platform = MobilePlatform::android;
    app.sourcePath = canonical;
    app.addedAt = QDateTime::currentDateTimeUtc();
    m_apps.append(app);
    setStatusMessage(u"Added "_s + given.fileName()); // before saving, so that a failed save is what shows
    appsEdited();
}

void AppLibraryStore::refreshAndroidNames() {
    if (VantleSettings::get(SettingsKeys::labelsRefreshed)) return;
    QList<QPair<QUuid, QString>> sources;
    for (const MobileApp& app : m_apps)
        if (app.platform == MobilePlatform::android) sources.append({app.id, app.sourcePath});

    // The reading runs on the thread pool; the results come back to the main thread, where an
    // entry removed in the meantime is simply not found.
    QtConcurrent::run([sources = std::move(sources), readApk = m_seams.readApk] {
        QList<QPair<QUuid, QString>> found;
        if (!readApk) return found;
        for (const auto& [id, path] : sources)
            if (auto label = readApk(path).label) found.append({id, *label});
        return found;
    }).then(this, [this](const QList<QPair<QUuid, QString>>& labels) { applyLabels(labels); });
}

void AppLibraryStore::applyLabels(const QList<QPair<QUuid, QString>>& labels) {
    bool changed = false;
    for (const auto& [id, label] : labels) {
        auto it = std::find_if(m_apps.begin(), m_apps.end(), [&](const MobileApp& a) { return a.id == id; });
        if (it == m_apps.end() || it->name == label) continue;
        it->name = label;
        changed = true;
    }
    if (changed) appsEdited();
    VantleSettings::set(SettingsKeys::labelsRefreshed, true);
}
