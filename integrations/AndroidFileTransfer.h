#pragma once

#include "integrations/SeenDownloads.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

// Files from the desktop into Android's shared Download folder: push, check, index with the media
// scanner, and offer a single file of a known type to the window's own app through Android's share
// intent. Everything here blocks on adb: call it from the thread pool.
namespace AndroidFileTransfer {

inline constexpr auto downloadFolder = QLatin1StringView("/sdcard/Download/");
inline constexpr auto mediaStoreFolder = QLatin1StringView("/storage/emulated/0/Download/");

struct Result {
    QString title;
    QString message;
    bool operator==(const Result&) const = default;
};

// What an app window calls to send dropped files (the application binds `push` to its seen set).
using Sender = std::function<Result(const QStringList& localPaths, const QString& package,
                                    std::optional<int> displayID)>;

// Sends the local files into Android for `package`, whose window shows `displayID` (when known).
// Their names go into `seen` first, so the download watcher never copies them back. A folder or
// a file that cannot be read is not sent, and when nothing could be sent the result says why.
Result push(const QStringList& localPaths, const QString& package, std::optional<int> displayID,
            SeenDownloads& seen);

// The MIME type of a name by its (case-insensitive) extension; nothing for unknown types.
std::optional<QString> mimeType(const QString& name);

// The media store's content URI of a file in the Download folder, once the scanner has indexed it:
// up to `attempts` queries `pause` apart. Nothing for a name with a quote.
std::optional<QString> mediaURI(const QString& name, int attempts = 6,
                                std::chrono::milliseconds pause = std::chrono::milliseconds(500));

// A device path for a shell command line: in single quotes, each single quote written '\''.
QString quoted(const QString& path);

} // namespace AndroidFileTransfer
