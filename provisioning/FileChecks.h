#pragma once

#include <QFileInfo>
#include <QString>

// What "the tool is there" means throughout provisioning: a regular file that may be executed.
inline bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}
