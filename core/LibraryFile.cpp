#include "core/LibraryFile.h"

#include <QFile>
#include <QFileInfo>

LibraryFile LibraryFile::locate(const QString& path) {
    const QFileInfo info(path);
    LibraryFile located;
    if (!info.exists()) return located; // a dangling link does not exist either
    if (info.isDir()) {
        located.kind = Kind::folder;
        return located;
    }
    if (!info.isFile()) {
        located.kind = Kind::special;
        return located;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        located.kind = Kind::unreadable;
        located.reason = file.errorString();
        return located;
    }
    located.kind = Kind::file;
    located.canonicalPath = info.canonicalFilePath();
    return located;
}
