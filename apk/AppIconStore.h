#pragma once

#include "core/Models.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QUuid>
#include <functional>
#include <optional>

// The one place that turns a library entry into its icon. Main thread only. Icons decoded in this
// run are kept in memory; a missing one is resolved once per app per run, in the background at low
// priority, through the cache file and then the APK; the image is published on the main thread.
// An app whose icon cannot be found keeps its monogram until the next run.
class AppIconStore final : public QObject {
    Q_OBJECT
public:
    // Resolves one app's icon as PNG bytes. Runs on a pool thread.
    using Loader = std::function<std::optional<QByteArray>(const QUuid& id, const QString& sourcePath,
                                                           MobilePlatform platform)>;

    static AppIconStore& shared();
    explicit AppIconStore(Loader loader = &AppIconStore::loadIconData, QObject* parent = nullptr);
    ~AppIconStore() override;

    // The icon when it is known; otherwise starts the one resolution of this run and returns none.
    // Never blocks.
    std::optional<QImage> image(const MobileApp& app);
    const QHash<QUuid, QImage>& images() const { return m_images; }

    // The cache folder and one app's cache file, "<UUID in upper case>.png".
    static QString directory();
    static QString cacheFile(const QUuid& id);

    // The whole chain: the cache file, the resource table, the file-name fallback; writes the
    // cache file on success. Any thread.
    static std::optional<QByteArray> loadIconData(const QUuid& id, const QString& sourcePath,
                                                  MobilePlatform platform);
    // The fallback alone: the best-named image entry re-encoded as PNG, with that entry's name.
    struct Fallback {
        QByteArray png;
        QString entry;
    };
    static std::optional<Fallback> fallbackIcon(const QString& sourcePath, MobilePlatform platform);
    // The entry whose name looks most like a launcher icon, by density and naming; none without
    // a candidate.
    static std::optional<QString> bestEntry(const QStringList& entryNames);

Q_SIGNALS:
    // An icon arrived; views showing that app redraw.
    void imagesChanged(const QUuid& id);

private:
    Loader m_loader;
    QThreadPool m_pool; // low-priority threads, so icon work never competes with the stream
    QHash<QUuid, QImage> m_images;
    QSet<QUuid> m_attempted;
};
