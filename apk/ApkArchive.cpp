#include "apk/ApkArchive.h"

#include <QFile>
#include <QStringDecoder>
#include <archive.h>
#include <archive_entry.h>
#include <memory>

namespace APKIconExtractor {

namespace {

// An open archive. The file is read, not mapped: a mapping of an APK that someone truncates
// meanwhile (copying a new version over it in place) would fault on the missing pages.
class OpenArchive {
public:
    explicit OpenArchive(const QString& apkPath)
        : m_archive(archive_read_new()) {
        if (!m_archive) return;
        // The seekable reader trusts the central directory, so skipping an entry costs a seek,
        // not a decompression.
        archive_read_support_format_zip_seekable(m_archive);
        if (archive_read_open_filename(m_archive, QFile::encodeName(apkPath).constData(), 64 * 1024) !=
            ARCHIVE_OK) {
            archive_read_free(m_archive);
            m_archive = nullptr;
        }
    }
    ~OpenArchive() {
        if (m_archive) archive_read_free(m_archive);
    }
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;

    archive* get() const { return m_archive; }
    explicit operator bool() const { return m_archive != nullptr; }

private:
    archive* m_archive;
};

// The stored name as raw bytes: the UTF-8 form when libarchive can give one, else the bytes as stored.
QByteArray storedName(archive_entry* entry) {
    if (const char* utf8 = archive_entry_pathname_utf8(entry)) return QByteArray(utf8);
    if (const char* raw = archive_entry_pathname(entry)) return QByteArray(raw);
    return {};
}

std::optional<QByteArray> readBody(archive* a, archive_entry* entry) {
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > maxEntryBytes) return std::nullopt;
    QByteArray body;
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
        body.reserve(static_cast<qsizetype>(archive_entry_size(entry)));
    char chunk[64 * 1024];
    for (;;) {
        const la_ssize_t got = archive_read_data(a, chunk, sizeof chunk);
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        // The declared size may lie; the cap holds for what actually comes out.
        if (body.size() + got > maxEntryBytes) return std::nullopt;
        body.append(chunk, static_cast<qsizetype>(got));
    }
    if (body.isEmpty()) return std::nullopt;
    return body;
}

} // namespace

std::optional<QByteArray> read(const QString& apkPath, const QString& entryName) {
    const OpenArchive handle(apkPath);
    if (!handle) return std::nullopt;
    const QByteArray wanted = entryName.toUtf8();
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(handle.get(), &entry)) == ARCHIVE_OK ||
           status == ARCHIVE_WARN) {
        if (storedName(entry) == wanted) return readBody(handle.get(), entry);
    }
    return std::nullopt;
}

QHash<QString, QByteArray> readMany(const QString& apkPath, const QSet<QString>& entryNames) {
    QHash<QString, QByteArray> found;
    if (entryNames.isEmpty()) return found;
    const OpenArchive handle(apkPath);
    if (!handle) return found;
    QHash<QByteArray, QString> wanted;
    for (const QString& name : entryNames)
        wanted.insert(name.toUtf8(), name);
    qint64 total = 0;
    archive_entry* entry = nullptr;
    int status;
    while (!wanted.isEmpty() && ((status = archive_read_next_header(handle.get(), &entry)) == ARCHIVE_OK ||
                                 status == ARCHIVE_WARN)) {
        const auto name = wanted.constFind(storedName(entry));
        if (name == wanted.cend()) continue;
        const QString key = *name;
        wanted.erase(name); // the first entry of a name counts, as in read()
        const std::optional<QByteArray> body = readBody(handle.get(), entry);
        if (!body || total + body->size() > maxEntryBytes) continue;
        total += body->size();
        found.insert(key, *body);
    }
    return found;
}

std::optional<QStringList> entryNames(const QString& apkPath) {
    const OpenArchive handle(apkPath);
    if (!handle) return std::nullopt;
    QStringList names;
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(handle.get(), &entry)) == ARCHIVE_OK ||
           status == ARCHIVE_WARN) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(storedName(entry));
        if (utf8.hasError()) return std::nullopt;
        names.append(decoded);
    }
    if (status != ARCHIVE_EOF) return std::nullopt;
    return names;
}

} // namespace APKIconExtractor
