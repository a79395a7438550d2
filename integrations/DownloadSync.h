#pragma once

#include "integrations/Notifier.h"
#include "integrations/SeenDownloads.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <optional>

// Copies new, finished files of Android's Download folder into the user's Downloads/Vantle folder
// while an app window is open. Every 4 s it lists the folder; a file is copied once two polls in a
// row saw it with the same size, under a name no other file there has. The very first run only
// notes what is already there. GUI thread; listing and copying run on the Android pool, and the
// destructor waits for them.
class DownloadSync final : public QObject {
    Q_OBJECT
public:
    using Listing = QHash<QString, qint64>; // file name -> size in bytes

    DownloadSync(SeenDownloads& seen, Notifier& notifier, QObject* parent = nullptr);
    ~DownloadSync() override;

    // Polls at once and then every `pollIntervalMs`; a second start does nothing.
    void start();
    // Ends the polling; what waits for a stable size and the seen names are kept.
    void stop();
    bool isRunning() const { return m_timer != nullptr; }
    // One poll now, unless one is in flight or "VantleSyncDownloads" is off.
    void poll();
    bool isPolling() const { return m_polling; }

    // A file was saved: the banner's title and text for the visible app windows.
    std::function<void(const QString& title, const QString& text)> onSaved;

    static constexpr int pollIntervalMs = 4000;

    // Blocking: the top-level regular files of the Download folder; nothing when the listing did
    // not run to its end.
    static std::optional<Listing> listDownloads();
    static std::optional<Listing> parseListing(const QString& output);
    // Files still being written by browsers and download managers.
    static bool isTemporary(const QString& name);
    // A name from Android that is safe as one file name in the target folder: no "/", no control
    // characters, not "." or "..", and short enough to take a number within the file system's
    // 255 bytes.
    static QString safeName(const QString& androidName);
    // "photo.jpg", 2 -> "photo 2.jpg"; "notes", 3 -> "notes 3".
    static QString numbered(const QString& name, int number);
    // Blocking: pulls the file into `folder` under its safe name, numbered when that is taken; never
    // replaces a file. The path written, or nothing.
    static std::optional<QString> copyToMac(const QString& name, const QString& folder);

private:
    void handle(std::optional<Listing> listing);
    void copied(const std::optional<QString>& target);
    template <typename Work, typename Done> void inBackground(Work work, Done done);

    SeenDownloads& m_seen;
    Notifier& m_notifier;
    QPointer<QTimer> m_timer;
    bool m_polling = false;
    QHash<QString, qint64> m_waiting; // seen once, size recorded, not yet copied
    QList<QFuture<void>> m_tasks;     // listing and copies in flight; waited for on destruction
};
