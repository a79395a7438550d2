#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Zip archives made with libarchive, shaped like Google's SDK archives (or gzip'd tars), hostile
// entries (absolute paths, "..", links) included on purpose.
namespace TestArchives {

struct Entry {
    QString name; // ending in '/': a folder
    QByteArray data{};
    int mode = 0644;
    QString link{}; // non-empty: a symbolic link to this
};

QByteArray zip(const QList<Entry>& entries);
QByteArray tgz(const QList<Entry>& entries); // a gzip'd tar
// A zip of everything below `folder`, each named `prefix` + its path there.
QByteArray zipFolder(const QString& folder, const QString& prefix);

} // namespace TestArchives
