#include "core/AppLibraryStore.h"

#include "core/SettingsKeys.h"
#include "core/VantleLog.h"

#include <QCollator>
#include <QFileInfo>
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

// Case-insensitive containment; an empty needle is contained nowhere.
bool containsText(const QString& haystack, const QString& needle) {
    return !needle.isEmpty() && haystack.contains(needle, Qt::CaseInsensitive);
}

} // namespace

AppLibraryStore::AppLibraryStore(Seams seams, QObject* parent)
    : QObject(parent)
    , m_seams(std::move(seams))
    , m_statusMessage(u"Ready"_s) {
    load();
}

void AppLibraryStore::load() {
    const auto stored = VantleSettings::readData(SettingsKeys::apps.key());
    if (!stored) return;
    if (auto apps = LibraryCoding::decode(*stored)) {
        m_apps = std::move(*apps);
        save();
        return;
    }
    // The library starts empty, but the bytes the user had are kept beside it, not overwritten.
    const QString aside =
        SettingsKeys::unreadableApps.key(QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd-HHmmss"_s));
    VantleSettings::set(aside, *stored);
    VantleLog::main().write(u"library: stored library could not be decoded; kept as "_s + aside);
}

void AppLibraryStore::save() const { VantleSettings::set(SettingsKeys::apps, LibraryCoding::encode(m_apps)); }

void AppLibraryStore::setApps(QList<MobileApp> apps) {
    if (apps == m_apps) return;
    m_apps = std::move(apps);
    save();
    Q_EMIT appsChanged();
}

void AppLibraryStore::setSearch(const QString& search) { assign(this, m_search, search, &AppLibraryStore::searchChanged); }
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
    for (const MobileApp& app : m_apps) keyed.push_back({collator.sortKey(app.displayName().toCaseFolded()), &app});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.app->isFavorite != b.app->isFavorite) return a.app->isFavorite;
        return a.key.compare(b.key) < 0;
    });
    QList<MobileApp> ordered;
    ordered.reserve(m_apps.size());
    for (const Keyed& entry : keyed) ordered.append(*entry.app);
    return ordered;
}

QList<MobileApp> AppLibraryStore::filteredApps() const {
    QList<MobileApp> shown;
    for (const MobileApp& app : m_apps) {
        const bool hidden = std::any_of(m_hiddenForShots.cbegin(), m_hiddenForShots.cend(),
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
    save();
    Q_EMIT appsChanged();
}

void AppLibraryStore::remove(const MobileApp& app) {
    m_apps.removeIf([&](const MobileApp& a) { return a.id == app.id; });
    save();
    Q_EMIT appsChanged();
    setStatusMessage(u"Removed "_s + app.name);
}

void AppLibraryStore::replaceSource(const QUuid& id, const QUrl& url, const QString& package) {
    auto it = std::find_if(m_apps.begin(), m_apps.end(), [&](const MobileApp& a) { return a.id == id; });
    if (it == m_apps.end()) return;
    it->sourcePath = url.toLocalFile();
    it->bundleIdentifier = package;
    save();
    Q_EMIT appsChanged();
}

void AppLibraryStore::addFiles(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) addFile(url);
}

void AppLibraryStore::addFile(const QUrl& url) {
    const QString path = url.toLocalFile();
    const QFileInfo file(path);
    const QString extension = file.suffix().toLower();

    if (extension == u"vantle"_s) {
        if (!m_seams.restoreBackup) {
            setStatusMessage(u"Skipped "_s + file.fileName() + u": restoring backups is not available yet"_s);
            return;
        }
        setStatusMessage(u"Restoring "_s + file.completeBaseName() + u"…"_s);
        m_seams.restoreBackup(path);
        return;
    }
    if (extension != u"apk"_s) {
        setStatusMessage(u"Skipped "_s + file.fileName() + u": choose an APK"_s);
        return;
    }
    if (std::any_of(m_apps.cbegin(), m_apps.cend(), [&](const MobileApp& a) { return a.sourcePath == path; })) {
        setStatusMessage(u"Already in library: "_s + file.completeBaseName());
        return;
    }
    MobileApp app;
    app.id = QUuid::createUuid();
    const std::optional<QString> label = m_seams.readLabel ? m_seams.readLabel(path) : std::nullopt;
    app.name = label.value_or(file.completeBaseName());
    app.platform = MobilePlatform::android;
    app.sourcePath = path;
    app.addedAt = QDateTime::currentDateTimeUtc();
    m_apps.append(app);
    save();
    Q_EMIT appsChanged();
    setStatusMessage(u"Added "_s + file.fileName());
}

void AppLibraryStore::refreshAndroidNames() {
    if (VantleSettings::get(SettingsKeys::labelsRefreshed)) return;
    QList<QPair<QUuid, QString>> sources;
    for (const MobileApp& app : m_apps)
        if (app.platform == MobilePlatform::android) sources.append({app.id, app.sourcePath});

    // The reading runs on the thread pool; the results come back to the main thread, where an
    // entry removed in the meantime is simply not found.
    QtConcurrent::run([sources = std::move(sources), readLabel = m_seams.readLabel] {
        QList<QPair<QUuid, QString>> found;
        if (!readLabel) return found;
        for (const auto& [id, path] : sources)
            if (auto label = readLabel(path)) found.append({id, *label});
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
    if (changed) {
        save();
        Q_EMIT appsChanged();
    }
    VantleSettings::set(SettingsKeys::labelsRefreshed, true);
}
