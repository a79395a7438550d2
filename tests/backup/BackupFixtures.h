#pragma once

// Archives for the backup tests, written with libarchive so that hostile entries (absolute paths,
// "..", links) can be made on purpose.
#include "support/TestSupport.h"

#include <QList>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

struct ArchiveEntry {
    enum class Type { file, folder, symlink };
    QString name;
    QByteArray content{}; // a file's bytes
    Type type = Type::file;
    QString target{}; // a link's target
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
        archive_entry_set_perm(entry, e.type == ArchiveEntry::Type::file ? 0600 : 0700);
        archive_entry_set_filetype(entry, e.type == ArchiveEntry::Type::file     ? AE_IFREG
                                          : e.type == ArchiveEntry::Type::folder ? AE_IFDIR
                                                                                 : AE_IFLNK);
        archive_entry_set_size(entry, e.content.size());
        if (e.type == ArchiveEntry::Type::symlink)
            archive_entry_set_symlink(entry, e.target.toUtf8().constData());
        ok = archive_write_header(a, entry) == ARCHIVE_OK;
        if (ok && !e.content.isEmpty())
            ok = archive_write_data(a, e.content.constData(), size_t(e.content.size())) == e.content.size();
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

inline QByteArray infoJson(const QString& package) {
    return QStringLiteral(R"({"package": "%1", "name": "Notes", "format": 1})").arg(package).toUtf8();
}
