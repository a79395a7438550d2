#include "provisioning/ArchiveUnpacker.h"

#include <QDir>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct ReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};

// A relative path of plain components, none of them "..".
bool isContainedPath(const QString& path) {
    if (path.isEmpty() || path.startsWith(u'/')) return false;
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    return !parts.isEmpty() && !parts.contains(u".."_s);
}

// Whether a link at `entryPath` pointing at `target` stays inside the destination. The target is
// resolved as the operating system would, by text, from the link's own folder.
bool isContainedLink(const QString& entryPath, const QString& target) {
    if (target.isEmpty() || target.startsWith(u'/')) return false;
    QStringList folder = entryPath.split(u'/', Qt::SkipEmptyParts);
    folder.removeLast();
    for (const QString& part : target.split(u'/', Qt::SkipEmptyParts)) {
        if (part == "."_L1) continue;
        if (part == ".."_L1) {
            if (folder.isEmpty()) return false;
            folder.removeLast();
        } else {
            folder.append(part);
        }
    }
    return true;
}

// No folder on the way from the destination to the entry is a symbolic link (links may only be
// leaves). A link where a file is about to go is removed, so the file replaces the link instead of
// writing to its target.
bool isWritableThrough(const QString& root, const QString& entryPath, bool isFolder) {
    const QStringList parts = entryPath.split(u'/', Qt::SkipEmptyParts);
    QString path = root;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path += u'/' + parts[i];
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0) return true; // nothing further exists
        if (!S_ISLNK(status.st_mode)) continue;
        if (i + 1 < parts.size() || isFolder) return false;
        return ::unlink(QFile::encodeName(path).constData()) == 0;
    }
    return true;
}

QString entryName(archive_entry* entry) {
    if (const char* utf8 = archive_entry_pathname_utf8(entry)) return QString::fromUtf8(utf8);
    if (const char* native = archive_entry_pathname(entry)) return QString::fromLocal8Bit(native);
    return {};
}

QString copyData(archive* in, archive* out) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int status = archive_read_data_block(in, &block, &size, &offset);
        if (status == ARCHIVE_EOF) return {};
        if (status < ARCHIVE_WARN) return QString::fromUtf8(archive_error_string(in));
        if (archive_write_data_block(out, block, size, offset) < ARCHIVE_WARN)
            return QString::fromUtf8(archive_error_string(out));
    }
}

// Unpacks every entry below `root`, a fresh folder; returns what went wrong, or nothing.
QString unpackInto(const QString& archivePath, const QString& root) {
    std::unique_ptr<archive, ReaderDeleter> in(archive_read_new());
    archive_read_support_format_zip(in.get());
    archive_read_support_format_tar(in.get());
    archive_read_support_filter_all(in.get());
    if (archive_read_open_filename(in.get(), QFile::encodeName(archivePath).constData(), 1 << 20) !=
        ARCHIVE_OK)
        return QString::fromUtf8(archive_error_string(in.get()));

    std::unique_ptr<archive, WriterDeleter> out(archive_write_disk_new());
    // Paths handed to the writer are absolute (the destination's own path may pass through links,
    // which is the user's business), so libarchive's symlink guard cannot be used: the checks
    // inside the destination are ours, above.
    archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                  ARCHIVE_EXTRACT_SECURE_NODOTDOT);

    archive_entry* entry = nullptr;
    for (;;) {
        const int status = archive_read_next_header(in.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) return QString::fromUtf8(archive_error_string(in.get()));

        const QString name = entryName(entry);
        if (!isContainedPath(name)) return u"its entry \"%1\" points outside its folder"_s.arg(name);
        if (const char* link = archive_entry_symlink(entry)) {
            if (!isContainedLink(name, QString::fromUtf8(link)))
                return u"its link \"%1\" points outside its folder"_s.arg(name);
        }
        if (const char* hardlink = archive_entry_hardlink(entry)) {
            const QString target = QString::fromUtf8(hardlink);
            if (!isContainedPath(target)) return u"its link \"%1\" points outside its folder"_s.arg(name);
            archive_entry_set_hardlink(entry, QFile::encodeName(root + u'/' + target).constData());
        }
        if (!isWritableThrough(root, name, archive_entry_filetype(entry) == AE_IFDIR))
            return u"its entry \"%1\" would be written through a link"_s.arg(name);
        archive_entry_set_pathname(entry, QFile::encodeName(root + u'/' + name).constData());
        // Zips made on some systems carry no permissions at all; never set-id bits from the network.
        mode_t permissions = archive_entry_perm(entry) & 0777;
        if (permissions == 0) permissions = archive_entry_filetype(entry) == AE_IFDIR ? 0755 : 0644;
        archive_entry_set_perm(entry, permissions | 0600);

        if (archive_write_header(out.get(), entry) < ARCHIVE_WARN)
            return QString::fromUtf8(archive_error_string(out.get()));
        if (archive_entry_size(entry) > 0 || !archive_entry_size_is_set(entry))
            if (const QString error = copyData(in.get(), out.get()); !error.isEmpty()) return error;
        if (archive_write_finish_entry(out.get()) < ARCHIVE_WARN)
            return QString::fromUtf8(archive_error_string(out.get()));
    }
    if (archive_write_close(out.get()) != ARCHIVE_OK)
        return QString::fromUtf8(archive_error_string(out.get()));
    return {};
}

// Moves each top-level entry of `staging` to the same name in `destination`. What was there is
// first moved aside into `replaced` (and put back when the move fails), so a folder is swapped by
// renames on one file system and never half old, half new.
QString moveIntoPlace(const QString& staging, const QString& destination, const QString& replaced) {
    const QStringList names =
        QDir(staging).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QByteArray target = QFile::encodeName(destination + u'/' + name);
        const QByteArray aside = QFile::encodeName(replaced + u'/' + name);
        struct stat status {};
        const bool occupied = ::lstat(target.constData(), &status) == 0;
        if (occupied && ::rename(target.constData(), aside.constData()) != 0)
            return u"could not replace "_s + destination + u'/' + name;
        if (::rename(QFile::encodeName(staging + u'/' + name).constData(), target.constData()) != 0) {
            if (occupied) ::rename(aside.constData(), target.constData());
            return u"could not move "_s + name + u" into "_s + destination;
        }
    }
    return {};
}

} // namespace

namespace ArchiveUnpacker {

QString unpack(const QString& archivePath, const QString& destination) {
    const QString root = QDir(destination).absolutePath();
    if (!QDir().mkpath(root)) return u"could not create "_s + root;
    // Staged inside the destination, so that moving into place is a rename on the same file system.
    // Folders left by an unpack that was killed half way are removed first.
    for (const QFileInfo& stale : QDir(root).entryInfoList({u".unpacking-*"_s, u".replaced-*"_s},
                                                           QDir::Dirs | QDir::Hidden | QDir::NoSymLinks))
        QDir(stale.filePath()).removeRecursively();
    QTemporaryDir staging(root + u"/.unpacking-XXXXXX"_s);
    QTemporaryDir replaced(root + u"/.replaced-XXXXXX"_s);
    if (!staging.isValid() || !replaced.isValid()) return u"could not create a folder in "_s + root;
    if (const QString problem = unpackInto(archivePath, staging.path()); !problem.isEmpty()) return problem;
    return moveIntoPlace(staging.path(), root, replaced.path());
}

std::optional<qint64> unpackedSize(const QString& archivePath) {
    std::unique_ptr<archive, ReaderDeleter> in(archive_read_new());
    // The zip's central directory lists every entry's size; no data is read.
    archive_read_support_format_zip_seekable(in.get());
    archive_read_support_format_tar(in.get());
    archive_read_support_filter_all(in.get());
    if (archive_read_open_filename(in.get(), QFile::encodeName(archivePath).constData(), 1 << 16) !=
        ARCHIVE_OK)
        return std::nullopt;
    qint64 total = 0;
    archive_entry* entry = nullptr;
    for (;;) {
        const int status = archive_read_next_header(in.get(), &entry);
        if (status == ARCHIVE_EOF) return total;
        if (status < ARCHIVE_WARN) return std::nullopt;
        if (archive_entry_size_is_set(entry)) total += std::max<qint64>(archive_entry_size(entry), 0);
    }
}

} // namespace ArchiveUnpacker
