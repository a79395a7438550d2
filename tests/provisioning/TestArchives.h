#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Zip archives made with libarchive, shaped like Google's SDK archives.
namespace TestArchives {

struct Entry {
    QString name; // ending in '/': a folder
    QByteArray data{};
    int mode = 0644;
    QString link{}; // non-empty: a symbolic link to this
};

QByteArray zip(const QList<Entry>& entries);
// A zip of everything below `folder`, each named `prefix` + its path there.
QByteArray zipFolder(const QString& folder, const QString& prefix);

} // namespace TestArchives
