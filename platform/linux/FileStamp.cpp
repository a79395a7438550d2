#include "platform/FileStamp.h"

#include <QFile>

#include <sys/stat.h>

std::optional<FileStamp> fileStamp(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
    return FileStamp{qint64(info.st_size), double(info.st_mtim.tv_sec) + double(info.st_mtim.tv_nsec) / 1e9};
}
