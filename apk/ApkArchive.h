#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

// Reading an APK as the zip archive it is, in process (libarchive, central directory first).
// An APK comes from anywhere, so every entry is read with a hard size cap: an entry whose declared
// or actual uncompressed size exceeds `maxEntryBytes` is treated as missing, which bounds memory
// against zip bombs. Safe from any thread; each call opens the file on its own.
namespace APKIconExtractor {

// 64 MiB: well above the largest resource tables of real apps, small enough to hold a few at once.
inline constexpr qint64 maxEntryBytes = 64 * 1024 * 1024;

// The uncompressed bytes of the first entry stored under exactly `entryName`; none when the entry
// is missing, empty, larger than the cap, damaged, or the archive cannot be read.
std::optional<QByteArray> read(const QString& apkPath, const QString& entryName);

// The entries named in `entryNames` that `read` would return, in one pass over the archive; the
// whole result is also held to `maxEntryBytes`, so entries past that total are left out.
QHash<QString, QByteArray> readMany(const QString& apkPath, const QSet<QString>& entryNames);

// Every entry name in stored order (directories included); none when the archive cannot be read
// or a name is not valid UTF-8.
std::optional<QStringList> entryNames(const QString& apkPath);

} // namespace APKIconExtractor
