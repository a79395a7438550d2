#include "apk/ZipDirectory.h"

#include "apk/BinaryXml.h"

#include <algorithm>
#include <utility>

using namespace Qt::Literals::StringLiterals;
using APKIconExtractor::u16;
using APKIconExtractor::u32;

namespace ZipDirectory {

namespace {

constexpr quint32 endSignature = 0x06054B50;       // "PK\5\6"
constexpr quint32 directorySignature = 0x02014B50; // "PK\1\2"
constexpr quint32 localSignature = 0x04034B50;     // "PK\3\4"
constexpr qint64 directoryRecordBytes = 46;
constexpr quint16 encryptedFlag = 0x0001;
constexpr quint16 dataDescriptorFlag = 0x0008;
constexpr quint16 zip64Count = 0xFFFF;
constexpr quint32 zip64Value = 0xFFFFFFFF;

QString number(qint64 value) {
    return QString::number(value);
}

// Entries whose local header and data share bytes: no writer makes them, but zip bombs do, so that
// a small file holds many large entries. Each span is counted from the directory's figures
// (header, name, data), which never exceed the real span, so valid archives always pass.
bool spansApart(const QList<Entry>& entries, QString& why) {
    QList<std::pair<qint64, qint64>> spans; // start, end
    spans.reserve(entries.size());
    for (const Entry& entry : entries) {
        const qint64 data = entry.method == storedMethod ? entry.uncompressedSize : entry.compressedSize;
        spans.append(
            {entry.localHeaderOffset, entry.localHeaderOffset + localHeaderBytes + entry.name.size() + data});
    }
    std::sort(spans.begin(), spans.end());
    for (qsizetype i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second) {
            why = u"entries overlap at "_s + number(spans[i].first);
            return false;
        }
    }
    return true;
}

} // namespace

// End of central directory record, the last record of the file; only the comment follows it, and
// it must end exactly at the end of the file:
//
//   +0  u32 signature 0x06054B50
//   +4  u16 number of this disk          } split archives: not read (Android ignores them too)
//   +6  u16 disk the directory starts on }
//   +8  u16 directory records on this disk (0xFFFF: see the ZIP64 record)
//   +10 u16 directory records in total     (0xFFFF: see the ZIP64 record)
//   +12 u32 directory size in bytes        (0xFFFFFFFF: see the ZIP64 record)
//   +16 u32 directory offset from the start of the file (0xFFFFFFFF: see the ZIP64 record)
//   +20 u16 comment length n
//   +22 n   comment
//
// The directory need not end where this record starts: writers that sign or align APKs leave
// bytes between them, and Android accepts that.
std::optional<EndRecord> findEndRecord(const QByteArray& tail, qint64 fileLength, QString& why) {
    if (fileLength < endRecordBytes || tail.size() < endRecordBytes || tail.size() > fileLength) {
        why = u"too short to be a zip archive"_s;
        return std::nullopt;
    }
    // Backwards from the last place a record fits: the first hit is the record, whatever the
    // comment holds (as Android reads it).
    qint64 at = tail.size() - endRecordBytes;
    while (at >= 0 && u32(tail, at) != endSignature)
        --at;
    if (at < 0) {
        why = u"no end of central directory record in the last "_s + number(tail.size()) + u" bytes"_s;
        return std::nullopt;
    }
    const qint64 tailStart = fileLength - tail.size();
    EndRecord end;
    end.offset = tailStart + at;
    const quint16 onDisk = u16(tail, at + 8);
    end.entryCount = u16(tail, at + 10);
    end.directorySize = u32(tail, at + 12);
    end.directoryOffset = u32(tail, at + 16);
    const quint16 commentLength = u16(tail, at + 20);
    if (end.offset + endRecordBytes + commentLength != fileLength) {
        why = number(fileLength - end.offset - endRecordBytes - commentLength) +
              u" bytes after the end record and its comment"_s;
        return std::nullopt;
    }
    if (onDisk == zip64Count || end.entryCount == zip64Count || end.directorySize == zip64Value ||
        end.directoryOffset == zip64Value) {
        why = u"ZIP64 archives are not supported"_s;
        return std::nullopt;
    }
    if (qint64(end.directoryOffset) + end.directorySize > end.offset) {
        why = u"the central directory ("_s + number(end.directoryOffset) + u" + "_s +
              number(end.directorySize) + u") runs past the end record at "_s + number(end.offset);
        return std::nullopt;
    }
    if (end.entryCount == 0) {
        why = u"the archive has no entries"_s;
        return std::nullopt;
    }
    return end;
}

// Central directory: `entryCount` records back to back, each
//
//   +0  u32 signature 0x02014B50
//   +4  u16 version made by      +6  u16 version needed
//   +8  u16 flags (bit 0 encrypted, bit 3 sizes and CRC in a data descriptor after the data)
//   +10 u16 method (0 stored, 8 deflated)
//   +12 u16 time                 +14 u16 date
//   +16 u32 CRC-32 of the uncompressed data
//   +20 u32 compressed size      (0xFFFFFFFF: ZIP64)
//   +24 u32 uncompressed size    (0xFFFFFFFF: ZIP64)
//   +28 u16 name length n        +30 u16 extra length m     +32 u16 comment length k
//   +34 u16 disk number          +36 u16 internal attributes +38 u32 external attributes
//   +42 u32 local header offset  (0xFFFFFFFF: ZIP64)
//   +46 n name, m extra, k comment
//
// Bytes after the last record (up to the directory size) are not read.
std::optional<Directory> parse(const QByteArray& directory, const EndRecord& end, QString& why) {
    Directory result;
    result.entries.reserve(end.entryCount);
    result.byName.reserve(end.entryCount);
    qint64 at = 0;
    for (int index = 0; index < end.entryCount; ++index) {
        const QString which = u"entry "_s + number(index);
        if (at + directoryRecordBytes > directory.size()) {
            why = which + u": the central directory ends after "_s + number(index) + u" of "_s +
                  number(end.entryCount) + u" records"_s;
            return std::nullopt;
        }
        if (u32(directory, at) != directorySignature) {
            why = which + u": no central directory signature"_s;
            return std::nullopt;
        }
        const qint64 nameLength = u16(directory, at + 28);
        const qint64 recordEnd =
            at + directoryRecordBytes + nameLength + u16(directory, at + 30) + u16(directory, at + 32);
        if (recordEnd > directory.size()) {
            why = which + u": name, extra field or comment run past the central directory"_s;
            return std::nullopt;
        }
        Entry entry;
        entry.name = directory.mid(at + directoryRecordBytes, nameLength);
        entry.flags = u16(directory, at + 8);
        entry.method = u16(directory, at + 10);
        entry.crc32 = u32(directory, at + 16);
        entry.compressedSize = u32(directory, at + 20);
        entry.uncompressedSize = u32(directory, at + 24);
        entry.localHeaderOffset = u32(directory, at + 42);
        if (entry.compressedSize == zip64Value || entry.uncompressedSize == zip64Value ||
            entry.localHeaderOffset == zip64Value) {
            why = which + u": ZIP64 entries are not supported"_s;
            return std::nullopt;
        }
        if (entry.localHeaderOffset >= end.directoryOffset) {
            why = which + u": local header offset "_s + number(entry.localHeaderOffset) +
                  u" is not before the central directory"_s;
            return std::nullopt;
        }
        if (entry.name.isEmpty() || entry.name.contains('\0') || !QByteArrayView(entry.name).isValidUtf8()) {
            why = which + u": the name is empty, holds NUL or is not UTF-8"_s;
            return std::nullopt;
        }
        // Two entries of one name would let a reader pick another file than the installer did.
        if (result.byName.contains(entry.name)) {
            why = u"duplicate entry "_s + QString::fromUtf8(entry.name);
            return std::nullopt;
        }
        result.byName.insert(entry.name, int(result.entries.size()));
        result.entries.append(std::move(entry));
        at = recordEnd;
    }
    if (!spansApart(result.entries, why)) return std::nullopt;
    return result;
}

// Local file header, in front of each entry's data:
//
//   +0  u32 signature 0x04034B50
//   +4  u16 version needed       +6  u16 flags     +8  u16 method
//   +10 u16 time                 +12 u16 date
//   +14 u32 CRC-32               +18 u32 compressed size    +22 u32 uncompressed size
//        (all three 0 when flag bit 3 puts them in a data descriptor after the data)
//   +26 u16 name length n        +28 u16 extra length m
//   +30 n name, m extra, then the data
//
// The extra field here often differs from the directory's (alignment padding), so the data
// starts where this header says.
std::optional<qint64> dataOffset(const QByteArray& localHeader, const Entry& entry, quint32 directoryOffset,
                                 QString& why) {
    const QString which = QString::fromUtf8(entry.name) + u": "_s;
    if (localHeader.size() < localHeaderBytes + entry.name.size()) {
        why = which + u"the local header is cut off"_s;
        return std::nullopt;
    }
    if (u32(localHeader, 0) != localSignature) {
        why = which + u"no local header signature at "_s + number(entry.localHeaderOffset);
        return std::nullopt;
    }
    const qint64 nameLength = u16(localHeader, 26);
    if (nameLength != entry.name.size() ||
        QByteArrayView(localHeader).sliced(localHeaderBytes, nameLength) != entry.name) {
        why = which + u"the local header names another entry"_s;
        return std::nullopt;
    }
    if ((u16(localHeader, 6) & dataDescriptorFlag) == 0 &&
        (u32(localHeader, 14) != entry.crc32 || u32(localHeader, 18) != entry.compressedSize ||
         u32(localHeader, 22) != entry.uncompressedSize)) {
        why = which + u"sizes or CRC of the local header differ from the central directory"_s;
        return std::nullopt;
    }
    if ((entry.flags & encryptedFlag) != 0) {
        why = which + u"encrypted entries are not supported"_s;
        return std::nullopt;
    }
    const qint64 data =
        qint64(entry.localHeaderOffset) + localHeaderBytes + nameLength + u16(localHeader, 28);
    const qint64 stored = entry.method == storedMethod ? entry.uncompressedSize : entry.compressedSize;
    if (data + stored > directoryOffset) {
        why = which + u"the data runs into the central directory"_s;
        return std::nullopt;
    }
    return data;
}

} // namespace ZipDirectory
