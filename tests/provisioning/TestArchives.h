#pragma once

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

// Zip archives made with libarchive, shaped like Google's SDK archives (or gzip'd tars), hostile
// entries (absolute paths, "..", links) included on purpose.
namespace TestArchives {

struct Entry {
    QString name; // ending in '/': a folder
    QByteArray data{};
    int mode = 0644;
    QString link{}; // non-empty: a symbolic link to this
};

inline QByteArray pack(const QList<Entry>& entries, bool tgz) {
    QByteArray bytes;
    archive* out = archive_write_new();
    if (tgz) {
        archive_write_set_format_pax_restricted(out);
        archive_write_add_filter_gzip(out);
    } else {
        archive_write_set_format_zip(out);
    }
    archive_write_set_bytes_in_last_block(out, 1);
    const auto append = [](archive*, void* target, const void* buffer, size_t length) {
        static_cast<QByteArray*>(target)->append(static_cast<const char*>(buffer), qsizetype(length));
        return la_ssize_t(length);
    };
    archive_write_open(out, &bytes, nullptr, append, nullptr);
    for (const Entry& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.toUtf8().constData());
        archive_entry_set_filetype(entry, !item.link.isEmpty()       ? AE_IFLNK
                                          : item.name.endsWith(u'/') ? AE_IFDIR
                                                                     : AE_IFREG);
        archive_entry_set_perm(entry, item.mode);
        if (!item.link.isEmpty()) archive_entry_set_symlink(entry, item.link.toUtf8().constData());
        archive_entry_set_size(entry, item.data.size());
        archive_write_header(out, entry);
        archive_write_data(out, item.data.constData(), size_t(item.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(out);
    archive_write_free(out);
    return bytes;
}
inline QByteArray zip(const QList<Entry>& entries) {
    return pack(entries, false);
}
inline QByteArray tgz(const QList<Entry>& entries) { // a gzip'd tar
    return pack(entries, true);
}

// A zip of everything below `folder`, each named `prefix` + its path there.
inline QByteArray zipFolder(const QString& folder, const QString& prefix) {
    QList<Entry> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = prefix + info.filePath().mid(folder.size() + 1);
        // A link is kept as written; one that leads out of the folder (the simulated SDK's adb,
        // Google's) is packed as its file, as a download holds adb itself.
        char target[4096];
        const ssize_t length =
            info.isSymLink() ? ::readlink(QFile::encodeName(info.filePath()), target, 4096) : 0;
        if (length > 0 && target[0] != '/')
            entries.append({name, {}, 0777, QString::fromUtf8(target, length)});
        else if (info.isDir())
            entries.append({name + u'/', {}, 0755});
        else if (QFile file(info.filePath()); file.open(QIODevice::ReadOnly))
            entries.append({name, file.readAll(), info.isExecutable() ? 0755 : 0644});
    }
    return zip(entries);
}

} // namespace TestArchives
