#include "platform/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

bool ensurePrivateFolder(const QString& folder) {
    if (!QDir().mkpath(folder)) return false;
    const QByteArray native = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0 || info.st_uid != ::getuid()) return false;
    return ::chmod(native.constData(), 0700) == 0;
}
