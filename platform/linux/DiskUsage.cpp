#include "platform/DiskUsage.h"

#include <QDirIterator>
#include <sys/stat.h>

namespace DiskUsage {

namespace {
// st_blocks counts 512-byte units whatever the file system's block size.
qint64 blocksOf(const QString& path, bool* isFolder) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return 0;
    if (isFolder) *isFolder = S_ISDIR(info.st_mode);
    return qint64(info.st_blocks) * 512;
}
} // namespace

qint64 allocatedBytes(const QString& path) {
    bool isFolder = false;
    qint64 total = blocksOf(path, &isFolder);
    if (!isFolder) return total;
    QDirIterator below(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (below.hasNext())
        total += blocksOf(below.next(), nullptr);
    return total;
}

} // namespace DiskUsage
