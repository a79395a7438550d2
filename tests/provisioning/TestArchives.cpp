#include "TestArchives.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

namespace TestArchives {

namespace {
la_ssize_t appendTo(archive*, void* target, const void* buffer, size_t length) {
    static_cast<QByteArray*>(target)->append(static_cast<const char*>(buffer), qsizetype(length));
    return la_ssize_t(length);
}
} // namespace

QByteArray zip(const QList<Entry>& entries) {
    QByteArray bytes;
    archive* out = archive_write_new();
    archive_write_set_format_zip(out);
    archive_write_set_bytes_in_last_block(out, 1);
    archive_write_open(out, &bytes, nullptr, appendTo, nullptr);
    for (const Entry& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.toUtf8().constData());
        if (!item.symlinkTarget.isEmpty()) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, item.symlinkTarget.toUtf8().constData());
            archive_entry_set_perm(entry, 0777);
        } else if (item.folder) {
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, item.mode);
            archive_entry_set_size(entry, item.data.size());
        }
        archive_write_header(out, entry);
        if (!item.data.isEmpty()) archive_write_data(out, item.data.constData(), size_t(item.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(out);
    archive_write_free(out);
    return bytes;
}

QList<Entry> entriesOf(const QString& folder, const QString& prefix) {
    QList<Entry> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = prefix + info.filePath().mid(folder.size() + 1);
        // Qt resolves links to absolute paths; the archive keeps the link as written. A link that
        // leads out of the folder (the simulated SDK's adb, Google's) is packed as its file, as a
        // download holds adb itself.
        char target[4096];
        const ssize_t length = info.isSymLink() ? ::readlink(QFile::encodeName(info.filePath()).constData(),
                                                             target, sizeof target)
                                                : 0;
        if (info.isSymLink() && !(length > 0 && target[0] == '/')) {
            entries.append({name, {}, 0777, QString::fromUtf8(target, length > 0 ? length : 0), false});
        } else if (info.isDir()) {
            entries.append({name + QLatin1Char('/'), {}, 0755, {}, true});
        } else {
            QFile file(info.filePath());
            file.open(QIODevice::ReadOnly);
            entries.append({name,
                            file.readAll(),
                            int(info.permissions() & QFileDevice::ExeOwner ? 0755 : 0644),
                            {},
                            false});
        }
    }
    return entries;
}

} // namespace TestArchives
