#include "datacare/BackupArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace BackupArchive {

namespace {

constexpr int blockBytes = 1 << 20;

struct ReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryDeleter {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

QString errorOf(archive* a) {
    const char* text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : u"unknown archive error"_s;
}

QString entryName(archive_entry* entry) {
    if (const char* utf8 = archive_entry_pathname_utf8(entry)) return QString::fromUtf8(utf8);
    if (const char* native = archive_entry_pathname(entry)) return QString::fromLocal8Bit(native);
    return {};
}

// "a/./b/" gives {a, b}; nothing for an absolute path or one with a ".." component.
std::optional<QStringList> relativeParts(const QString& path) {
    if (path.isEmpty() || path.startsWith(u'/')) return std::nullopt;
    QStringList parts;
    for (const QString& part : path.split(u'/', Qt::SkipEmptyParts)) {
        if (part == ".."_L1) return std::nullopt;
        if (part != "."_L1) parts.append(part);
    }
    return parts;
}

// Writes one file of the folder as a ZIP entry, its bytes streamed in blocks.
QString addFile(archive* zip, const QString& path, const QString& name) {
    Descriptor in{::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)};
    struct stat status {};
    if (in.fd < 0 || ::fstat(in.fd, &status) != 0) return u"cannot read "_s + name;
    std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
    archive_entry_set_pathname_utf8(entry.get(), name.toUtf8().constData());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0600);
    archive_entry_set_size(entry.get(), status.st_size);
    archive_entry_set_mtime(entry.get(), status.st_mtime, 0);
    // The APKs and data archives are compressed already: stored, they cost no second compression.
    if (name.endsWith(u".json"_s))
        archive_write_zip_set_compression_deflate(zip);
    else
        archive_write_zip_set_compression_store(zip);
    if (archive_write_header(zip, entry.get()) != ARCHIVE_OK) return errorOf(zip);
    QByteArray block(blockBytes, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in.fd, block.data(), size_t(block.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return u"cannot read "_s + name;
        if (n == 0) break;
        if (archive_write_data(zip, block.constData(), size_t(n)) != n) return errorOf(zip);
    }
    return archive_write_finish_entry(zip) == ARCHIVE_OK ? QString() : errorOf(zip);
}

QString writeInto(int fd, const QString& folder) {
    std::unique_ptr<archive, WriterDeleter> zip(archive_write_new());
    if (archive_write_set_format_zip(zip.get()) != ARCHIVE_OK ||
        archive_write_open_fd(zip.get(), fd) != ARCHIVE_OK)
        return errorOf(zip.get());
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    for (const QString& name : names)
        if (const QString error = addFile(zip.get(), folder + u'/' + name, name); !error.isEmpty())
            return error;
    return archive_write_close(zip.get()) == ARCHIVE_OK ? QString() : errorOf(zip.get());
}

// Copies the current entry's data into a new file, stopping at `limit` bytes.
QString unpackEntry(archive* zip, const QString& target, qint64 limit, qint64& total) {
    Descriptor out{::open(QFile::encodeName(target).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
    if (out.fd < 0) return u"cannot create "_s + target;
    qint64 written = 0;
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int status = archive_read_data_block(zip, &block, &size, &offset);
        if (status == ARCHIVE_EOF) return {};
        if (status < ARCHIVE_WARN) return errorOf(zip);
        // Sparse entries give offsets; a backup's files are written whole, in order.
        if (offset != written) return u"an entry is not stored in order"_s;
        written += qint64(size);
        total += qint64(size);
        if (written > limit) return u"an entry is larger than allowed"_s;
        if (total > maxTotalBytes) return u"the entries are larger than allowed"_s;
        for (const char* p = static_cast<const char*>(block); size > 0;) {
            const ssize_t n = ::write(out.fd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return u"cannot write "_s + target;
            p += n;
            size -= size_t(n);
        }
    }
}

// Whether `target`, the target of a symbolic link at `name`, points inside the package's folder
// and not into its lib link. Relative targets are resolved by text from the link's folder.
bool isInsideLink(const QString& name, const QString& target, const QString& package) {
    QStringList resolved;
    if (target.startsWith(u'/')) {
        for (const QString& root : {u"/data/data/"_s, u"/data/user/0/"_s})
            if (target.startsWith(root))
                resolved = relativeParts(target.mid(root.size())).value_or(QStringList());
        if (resolved.isEmpty()) return false;
    } else {
        resolved = name.split(u'/', Qt::SkipEmptyParts);
        resolved.removeLast();
        for (const QString& part : target.split(u'/', Qt::SkipEmptyParts)) {
            if (part == "."_L1) continue;
            if (part != ".."_L1)
                resolved.append(part);
            else if (resolved.size() <= 1) // would leave the package's folder
                return false;
            else
                resolved.removeLast();
        }
    }
    if (resolved.value(0) != package) return false;
    return resolved.value(1) != u"lib"_s;
}

} // namespace

QString write(const QString& folder, const QString& zipPath) {
    const QByteArray path = QFile::encodeName(zipPath);
    Descriptor out{::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (out.fd < 0) return u"cannot create "_s + zipPath;
    ::fchmod(out.fd, 0600); // whatever the umask: the file holds an app's private data
    QString error = writeInto(out.fd, folder);
    if (error.isEmpty() && ::fsync(out.fd) != 0) error = u"cannot write "_s + zipPath;
    if (!error.isEmpty()) ::unlink(path.constData());
    return error;
}

QString read(const QString& zipPath, const QString& folder) {
    Reader zip(archive_read_new());
    archive_read_support_format_zip_seekable(zip.get());
    if (archive_read_open_filename(zip.get(), QFile::encodeName(zipPath).constData(), blockBytes) !=
        ARCHIVE_OK)
        return u"not a ZIP archive: "_s + errorOf(zip.get());
    QSet<QString> names;
    qint64 total = 0;
    for (int count = 0;; ++count) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(zip.get(), &entry);
        if (status == ARCHIVE_EOF) return count == 0 ? u"an empty archive"_s : QString();
        if (status < ARCHIVE_WARN) return u"not a ZIP archive: "_s + errorOf(zip.get());
        if (count >= maxEntries) return u"more than %1 entries"_s.arg(maxEntries);
        const QString name = entryName(entry);
        const std::optional<QStringList> parts = relativeParts(name);
        if (!parts || parts->isEmpty()) return u"the entry \"%1\" leaves its folder"_s.arg(name);
        const mode_t type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) continue;
        if (type != AE_IFREG || archive_entry_hardlink(entry) || archive_entry_symlink(entry))
            return u"the entry \"%1\" is not a plain file"_s.arg(name);
        if (parts->size() > 1) continue; // not part of a backup
        const QString file = parts->first();
        if (names.contains(file)) return u"the entry \"%1\" appears twice"_s.arg(name);
        names.insert(file);
        const qint64 limit = file == u"info.json"_s ? maxInfoBytes : maxEntryBytes;
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > limit)
            return u"the entry \"%1\" is larger than allowed"_s.arg(name);
        if (const QString error = unpackEntry(zip.get(), folder + u'/' + file, limit, total);
            !error.isEmpty())
            return error;
    }
}

QString tarEntryProblem(const QString& name, EntryType type, const QString& linkTarget,
                        const QString& package, TarScope scope) {
    const std::optional<QStringList> parts = relativeParts(name);
    if (!parts || parts->isEmpty() || parts->first() != package)
        return u"\"%1\" lies outside %2's folder"_s.arg(name, package);
    if (parts->size() == 1 && type != EntryType::folder) return u"\"%1\" is not a folder"_s.arg(name);
    const bool isLib = scope == TarScope::appData && parts->value(1) == u"lib"_s;
    if (isLib && (parts->size() > 2 || type != EntryType::symlink))
        return u"\"%1\" would be written through the app's lib link"_s.arg(name);
    switch (type) {
    case EntryType::file:
    case EntryType::folder:
    case EntryType::fifo:
        return {};
    case EntryType::device:
        return u"\"%1\" is a device file"_s.arg(name);
    case EntryType::hardLink: {
        if (scope == TarScope::externalData) return u"\"%1\" is a link"_s.arg(name);
        const std::optional<QStringList> target = relativeParts(linkTarget);
        if (!target || target->value(0) != package || target->value(1) == u"lib"_s)
            return u"\"%1\" links outside %2's folder"_s.arg(name, package);
        return {};
    }
    case EntryType::symlink:
        if (scope == TarScope::externalData) return u"\"%1\" is a link"_s.arg(name);
        if (isLib) return {}; // the old lib link: never unpacked, the installed app's own one stays
        if (!isInsideLink(name, linkTarget, package))
            return u"\"%1\" links outside %2's folder"_s.arg(name, package);
        return {};
    }
    return {};
}

QString checkTar(const QString& tgzPath, const QString& package, TarScope scope) {
    Reader tar(archive_read_new());
    archive_read_support_filter_gzip(tar.get());
    archive_read_support_format_tar(tar.get());
    archive_read_support_format_gnutar(tar.get());
    if (archive_read_open_filename(tar.get(), QFile::encodeName(tgzPath).constData(), blockBytes) !=
        ARCHIVE_OK)
        return u"not a gzip'd tar archive: "_s + errorOf(tar.get());
    // The device's tar writes through links that exist when an entry is unpacked: links of the
    // archive, whichever order they come in, and the installed app's lib link.
    QSet<QString> links{package + u"/lib"_s};
    QStringList names;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(tar.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) return u"a damaged archive: "_s + errorOf(tar.get());
        const QString name = entryName(entry);
        EntryType type = EntryType::file;
        QString target;
        if (const char* hard = archive_entry_hardlink(entry)) {
            type = EntryType::hardLink;
            target = QString::fromUtf8(hard);
        } else {
            switch (archive_entry_filetype(entry)) {
            case AE_IFREG:
                type = EntryType::file;
                break;
            case AE_IFDIR:
                type = EntryType::folder;
                break;
            case AE_IFIFO:
                type = EntryType::fifo;
                break;
            case AE_IFLNK:
                type = EntryType::symlink;
                target = QString::fromUtf8(archive_entry_symlink(entry));
                break;
            default:
                type = EntryType::device;
                break;
            }
        }
        if (const QString problem = tarEntryProblem(name, type, target, package, scope); !problem.isEmpty())
            return problem;
        const QString clean = relativeParts(name)->join(u'/');
        if (type == EntryType::symlink) links.insert(clean);
        names.append(clean);
        if (type == EntryType::hardLink) names.append(relativeParts(target)->join(u'/'));
        if (archive_read_data_skip(tar.get()) < ARCHIVE_WARN)
            return u"a damaged archive: "_s + errorOf(tar.get());
    }
    for (const QString& name : names)
        for (qsizetype slash = name.indexOf(u'/'); slash > 0; slash = name.indexOf(u'/', slash + 1))
            if (links.contains(name.left(slash)))
                return u"\"%1\" would be written through a link"_s.arg(name);
    return {};
}

} // namespace BackupArchive
