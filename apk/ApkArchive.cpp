#include "apk/ApkArchive.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

using namespace Qt::Literals::StringLiterals;

namespace APKIconExtractor {

namespace {

// Raw deflate (no zlib header, as zip stores it) of exactly `size` bytes out of `compressed`.
// False when the stream is damaged, ends early, or would give more than `size` bytes.
bool inflateInto(const QByteArray& compressed, QByteArray& out, qint64 size, QString& why) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        why = u"zlib could not start"_s;
        return false;
    }
    out.resize(size);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(size);
    int status = inflate(&stream, Z_FINISH);
    // A stream that fills the buffer exactly may still owe its end-of-block marker: one more call
    // with a byte of room tells an honest end from data past the declared size.
    char spare = 0;
    if ((status == Z_OK || status == Z_BUF_ERROR) && stream.avail_out == 0) {
        stream.next_out = reinterpret_cast<Bytef*>(&spare);
        stream.avail_out = 1;
        status = inflate(&stream, Z_FINISH);
        if (stream.avail_out == 0) status = Z_DATA_ERROR;
    }
    const qint64 produced = qint64(stream.total_out);
    inflateEnd(&stream);
    if (status != Z_STREAM_END || produced != size) {
        why = u"the deflated data is damaged or does not match its declared size"_s;
        return false;
    }
    return true;
}

} // namespace

ApkArchive::ApkArchive(const QString& apkPath)
    : m_file(apkPath) {
    if (apkPath.isEmpty() || !m_file.open(QIODevice::ReadOnly)) {
        m_error = u"cannot be read: "_s + m_file.errorString();
        return;
    }
    open(m_file.size());
}

std::unique_ptr<ApkArchive> ApkArchive::fromBytes(QByteArray bytes) {
    std::unique_ptr<ApkArchive> archive(new ApkArchive());
    archive->m_bytes = std::move(bytes);
    archive->open(archive->m_bytes.size());
    return archive;
}

void ApkArchive::open(qint64 length) {
    using namespace ZipDirectory;
    const qint64 tailLength = std::min(length, endRecordBytes + maxCommentBytes);
    const std::optional<QByteArray> tail = readAt(length - tailLength, tailLength);
    if (!tail) {
        m_error = u"too short to be a zip archive"_s;
        return;
    }
    m_end = findEndRecord(*tail, length, m_error);
    if (!m_end) return;
    // Android also wants an entry's local header at the very start: a file that begins with
    // anything else (a script, another format) is not an APK even if its tail looks like one.
    const std::optional<QByteArray> start = readAt(0, 4);
    if (!start || *start != QByteArrayView("PK\x03\x04")) {
        m_error = u"the file does not start with a local header"_s;
        return;
    }
    if (m_end->directorySize > maxEntryBytes) {
        m_error = u"the central directory is larger than "_s + QString::number(maxEntryBytes) + u" bytes"_s;
        return;
    }
    // When the directory sits inside the tail already read (small archives), no second read.
    const qint64 tailStart = length - tailLength;
    std::optional<QByteArray> directory;
    if (m_end->directoryOffset >= tailStart)
        directory = tail->mid(m_end->directoryOffset - tailStart, m_end->directorySize);
    else
        directory = readAt(m_end->directoryOffset, m_end->directorySize);
    if (!directory) {
        m_error = u"the central directory cannot be read"_s;
        return;
    }
    m_directory = parse(*directory, *m_end, m_error);
}

std::optional<QByteArray> ApkArchive::readAt(qint64 offset, qint64 length) {
    if (offset < 0 || length < 0) return std::nullopt;
    if (!m_file.isOpen()) {
        if (offset + length > m_bytes.size()) return std::nullopt;
        return m_bytes.mid(offset, length);
    }
    if (!m_file.seek(offset)) return std::nullopt;
    QByteArray bytes(length, Qt::Uninitialized);
    if (m_file.read(bytes.data(), length) != length) return std::nullopt;
    return bytes;
}

std::optional<QByteArray> ApkArchive::readEntry(const ZipDirectory::Entry& entry) {
    using namespace ZipDirectory;
    m_error.clear();
    const QString which = QString::fromUtf8(entry.name) + u": "_s;
    if (entry.method != storedMethod && entry.method != deflatedMethod) {
        m_error = which + u"compression method "_s + QString::number(entry.method) + u" is not supported"_s;
        return std::nullopt;
    }
    if (entry.uncompressedSize > maxEntryBytes) {
        m_error = which + u"larger than "_s + QString::number(maxEntryBytes) + u" bytes"_s;
        return std::nullopt;
    }
    if (entry.uncompressedSize == 0) {
        m_error = which + u"empty"_s;
        return std::nullopt;
    }
    const std::optional<QByteArray> header =
        readAt(entry.localHeaderOffset, localHeaderBytes + entry.name.size());
    if (!header) {
        m_error = which + u"the local header cannot be read"_s;
        return std::nullopt;
    }
    const std::optional<qint64> data = dataOffset(*header, entry, m_end->directoryOffset, m_error);
    if (!data) return std::nullopt;
    // Android reads a stored entry's uncompressed size of bytes; the two sizes are equal in any
    // archive a tool wrote. Stored data is taken as it is, without its CRC, as Android's asset
    // manager maps it; deflated data is checked against its CRC like Android's extraction does.
    if (entry.method == storedMethod) {
        std::optional<QByteArray> bytes = readAt(*data, entry.uncompressedSize);
        if (!bytes) m_error = which + u"the data cannot be read"_s;
        return bytes;
    }
    // Deflate cannot shrink data by more than 1:1032, nor grow it by more than an eighth (9-bit
    // fixed codes for every byte) plus block headers, so sizes outside those bounds are a damaged
    // or hostile directory, and neither buffer is sized from a lie.
    if (qint64(entry.uncompressedSize) > qint64(entry.compressedSize) * 1032 + 1024 ||
        entry.compressedSize > entry.uncompressedSize + entry.uncompressedSize / 8 + 1024) {
        m_error = which + u"the compressed size exceeds what deflate can produce"_s;
        return std::nullopt;
    }
    const std::optional<QByteArray> compressed = readAt(*data, entry.compressedSize);
    if (!compressed) {
        m_error = which + u"the data cannot be read"_s;
        return std::nullopt;
    }
    QByteArray out;
    if (!inflateInto(*compressed, out, entry.uncompressedSize, m_error)) {
        m_error.prepend(which);
        return std::nullopt;
    }
    if (crc32_z(0, reinterpret_cast<const Bytef*>(out.constData()), size_t(out.size())) != entry.crc32) {
        m_error = which + u"the CRC does not match"_s;
        return std::nullopt;
    }
    return out;
}

std::optional<QByteArray> ApkArchive::read(const QString& entryName) {
    if (!m_directory) return std::nullopt;
    const auto index = m_directory->byName.constFind(entryName.toUtf8());
    if (index == m_directory->byName.cend()) {
        m_error = entryName + u": no such entry"_s;
        return std::nullopt;
    }
    return readEntry(m_directory->entries.at(*index));
}

QHash<QString, QByteArray> ApkArchive::readMany(const QSet<QString>& entryNames) {
    QHash<QString, QByteArray> found;
    if (!m_directory) return found;
    QList<std::pair<int, QString>> wanted; // stored index, name
    for (const QString& name : entryNames) {
        const auto index = m_directory->byName.constFind(name.toUtf8());
        if (index != m_directory->byName.cend()) wanted.append({*index, name});
    }
    std::sort(wanted.begin(), wanted.end());
    qint64 total = 0;
    for (const auto& [index, name] : wanted) {
        const ZipDirectory::Entry& entry = m_directory->entries.at(index);
        if (total + entry.uncompressedSize > maxEntryBytes) continue;
        const std::optional<QByteArray> body = readEntry(entry);
        if (!body) continue;
        total += body->size();
        found.insert(name, *body);
    }
    return found;
}

std::optional<QStringList> ApkArchive::entryNames() const {
    if (!m_directory) return std::nullopt;
    QStringList names;
    names.reserve(m_directory->entries.size());
    for (const ZipDirectory::Entry& entry : m_directory->entries)
        names.append(QString::fromUtf8(entry.name));
    return names;
}

std::optional<QByteArray> read(const QString& apkPath, const QString& entryName) {
    return ApkArchive(apkPath).read(entryName);
}

QHash<QString, QByteArray> readMany(const QString& apkPath, const QSet<QString>& entryNames) {
    if (entryNames.isEmpty()) return {};
    return ApkArchive(apkPath).readMany(entryNames);
}

std::optional<QStringList> entryNames(const QString& apkPath) {
    return ApkArchive(apkPath).entryNames();
}

} // namespace APKIconExtractor
