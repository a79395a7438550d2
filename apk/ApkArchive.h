#pragma once

#include "apk/ZipDirectory.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// Reading an APK as the zip archive it is, in process, the way Android reads it (see
// ZipDirectory.h): the central directory is parsed once, entries are looked up by name and
// inflated with zlib. An APK comes from anywhere, so every entry is read with a hard size cap: an
// entry whose declared or actual uncompressed size exceeds `maxEntryBytes` is treated as missing,
// which bounds memory against zip bombs.
namespace APKIconExtractor {

// 64 MiB: well above the largest resource tables of real apps, small enough to hold a few at once.
inline constexpr qint64 maxEntryBytes = 64 * 1024 * 1024;

// One opened APK. The file is read, not mapped: a mapping of an APK that someone truncates
// meanwhile (copying a new version over it in place) would fault on the missing pages; a read
// just comes up short. One thread at a time; separate instances are independent.
class ApkArchive {
public:
    explicit ApkArchive(const QString& apkPath);
    // An archive held in memory (fuzzing, tests).
    static std::unique_ptr<ApkArchive> fromBytes(QByteArray bytes);
    ApkArchive(const ApkArchive&) = delete;
    ApkArchive& operator=(const ApkArchive&) = delete;

    // False when the file cannot be read or is no zip archive Android would accept.
    bool isOpen() const { return m_directory.has_value(); }
    // Why the archive, or else the last entry read, was refused ("" after a good read), for logs
    // and tests.
    const QString& error() const { return m_error; }

    // The uncompressed bytes of the entry stored under exactly `entryName`; none when it is
    // missing, empty, larger than the cap, damaged or of an unsupported method.
    std::optional<QByteArray> read(const QString& entryName);
    // The entries named that `read` would return; the whole result is also held to
    // `maxEntryBytes`, so entries past that total (in stored order) are left out.
    QHash<QString, QByteArray> readMany(const QSet<QString>& entryNames);
    // Every entry name in stored order (directories included); none when the archive is not open.
    std::optional<QStringList> entryNames() const;

private:
    ApkArchive() = default;
    void open(qint64 length);
    std::optional<QByteArray> readAt(qint64 offset, qint64 length);
    std::optional<QByteArray> readEntry(const ZipDirectory::Entry& entry);

    QFile m_file;
    QByteArray m_bytes; // the archive when it is held in memory
    std::optional<ZipDirectory::EndRecord> m_end;
    std::optional<ZipDirectory::Directory> m_directory;
    QString m_error;
};

// One-shot forms, each opening the file on its own.
std::optional<QByteArray> read(const QString& apkPath, const QString& entryName);
QHash<QString, QByteArray> readMany(const QString& apkPath, const QSet<QString>& entryNames);
std::optional<QStringList> entryNames(const QString& apkPath);

} // namespace APKIconExtractor
