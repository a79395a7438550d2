#include "windows/CaptureFolders.h"

#include "platform/Locations.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace CaptureFolders {

QString pictures() {
    return Locations::pictures();
}

QString movies() {
    return Locations::movies();
}

QString fileName(const QString& app, const QString& ext, const QDateTime& time, int copy) {
    QString name =
        QString(app).replace(u'/', u'-') + u' ' + time.toLocalTime().toString(u"yyyy-MM-dd 'at' HH.mm.ss"_s);
    if (copy > 1) name += u' ' + QString::number(copy);
    return name + u'.' + ext;
}

QString file(const QString& folder, const QString& app, const QString& ext, const QDateTime& time) {
    QDir().mkpath(folder);
    // Bounded: a folder that refuses new files would otherwise keep us here for ever.
    constexpr int maxCopies = 1000;
    for (int copy = 1; copy <= maxCopies; ++copy) {
        const QString path = QDir(folder).filePath(fileName(app, ext, time, copy));
        QFile reserve(path);
        if (reserve.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return path;
        if (!reserve.exists()) return path; // not writable at all: the write that follows says so
    }
    return QDir(folder).filePath(fileName(app, ext, time, maxCopies + 1));
}

} // namespace CaptureFolders
