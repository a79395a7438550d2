#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// The records of a zip archive that locate its entries, parsed without any I/O: the end record,
// the central directory and one entry's local header. The layouts are those of PKWARE's
// APPNOTE.TXT (4.3.7, 4.3.12, 4.3.16); which files are accepted follows the reader Android
// installs APKs with (libziparchive): the end record is found by scanning back over a comment of
// up to 65,535 bytes, the directory offset it gives is trusted (bytes between the directory and
// the end record are allowed), every size is checked against the directory's start, names are
// valid UTF-8 without NUL and unique. ZIP64 and split archives are refused. Every refusal says
// why in `why`.
namespace ZipDirectory {

inline constexpr qint64 endRecordBytes = 22;
inline constexpr qint64 maxCommentBytes = 65535;
inline constexpr qint64 localHeaderBytes = 30;
inline constexpr quint16 storedMethod = 0;
inline constexpr quint16 deflatedMethod = 8;

struct EndRecord {
    qint64 offset = 0; // where the record starts in the file
    quint32 directoryOffset = 0;
    quint32 directorySize = 0;
    quint16 entryCount = 0;
};

// One central directory record, as much of it as reading an entry needs.
struct Entry {
    QByteArray name; // as stored: UTF-8, no NUL
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc32 = 0;
    quint32 compressedSize = 0;
    quint32 uncompressedSize = 0;
    quint32 localHeaderOffset = 0;
};

struct Directory {
    QList<Entry> entries;          // in stored order
    QHash<QByteArray, int> byName; // index into `entries`
};

// Where a file of `fileLength` bytes keeps its end record, from the last
// min(fileLength, 22 + 65,535) bytes of the file (`tail`).
std::optional<EndRecord> findEndRecord(const QByteArray& tail, qint64 fileLength, QString& why);

// The directory's records, from the `end.directorySize` bytes at `end.directoryOffset`.
std::optional<Directory> parse(const QByteArray& directory, const EndRecord& end, QString& why);

// Where the entry's data starts, from the first 30 + name length bytes at its local header
// offset; checks the header against the directory record (name, and sizes and CRC unless a data
// descriptor follows the data) and that header and data end before the directory.
std::optional<qint64> dataOffset(const QByteArray& localHeader, const Entry& entry, quint32 directoryOffset,
                                 QString& why);

} // namespace ZipDirectory
