#pragma once

// Archives for the backup tests, written with libarchive so that hostile entries (absolute
// paths, "..", links, devices) can be made on purpose.
#include <QByteArray>
#include <QList>
#include <QString>
#include <archive.h>
#include <archive_entry.h>
#include <ostream>

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

struct ArchiveEntry {
    enum class Type { file, folder, symlink, hardLink, device };
    ArchiveEntry(QString entryName, QByteArray bytes = {}, Type entryType = Type::file,
                 QString linkTarget = {}, int owner = 0, int permissions = 0600)
        : name(std::move(entryName))
        , content(std::move(bytes))
        , type(entryType)
        , target(std::move(linkTarget))
        , uid(owner)
        , mode(permissions) {}
    QString name;
    QByteArray content; // a file's bytes
    Type type = Type::file;
    QString target; // a link's target
    int uid = 0;
    int mode = 0600;
};

// Writes `entries` as a ZIP archive (zip) or a gzip'd tar (tgz) to `path`; false on failure.
enum class ArchiveFormat { zip, tgz };
inline bool writeArchive(const QString& path, ArchiveFormat format, const QList<ArchiveEntry>& entries) {
    archive* a = archive_write_new();
    if (format == ArchiveFormat::zip) {
        archive_write_set_format_zip(a);
    } else {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_gzip(a);
    }
    bool ok = archive_write_open_filename(a, path.toUtf8().constData()) == ARCHIVE_OK;
    for (const ArchiveEntry& e : entries) {
        if (!ok) break;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.toUtf8().constData());
        archive_entry_set_uid(entry, e.uid);
        archive_entry_set_gid(entry, e.uid);
        archive_entry_set_perm(entry, mode_t(e.mode));
        switch (e.type) {
        case ArchiveEntry::Type::file:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.content.size());
            break;
        case ArchiveEntry::Type::folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case ArchiveEntry::Type::symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.target.toUtf8().constData());
            break;
        case ArchiveEntry::Type::hardLink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, e.target.toUtf8().constData());
            break;
        case ArchiveEntry::Type::device:
            archive_entry_set_filetype(entry, AE_IFCHR);
            archive_entry_set_rdev(entry, 0x0103);
            break;
        }
        ok = archive_write_header(a, entry) == ARCHIVE_OK;
        if (ok && e.type == ArchiveEntry::Type::file && !e.content.isEmpty())
            ok = archive_write_data(a, e.content.constData(), size_t(e.content.size())) == e.content.size();
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

inline QByteArray infoJson(const QString& package) {
    return QStringLiteral("{\n    \"package\": \"%1\",\n    \"name\": \"Notes\",\n    \"format\": 1\n}\n")
        .arg(package)
        .toUtf8();
}
