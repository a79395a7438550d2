#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Zip archives made with libarchive, shaped like Google's SDK archives.
namespace TestArchives {

struct Entry {
    QString name;
    QByteArray data; // file contents
    int mode = 0644;
    QString symlinkTarget; // non-empty: a symbolic link
    bool folder = false;
};

// Writes a zip of the entries; returns its bytes.
QByteArray zip(const QList<Entry>& entries);
// Every file, folder and link below `folder`, named `prefix` + its path inside `folder`.
QList<Entry> entriesOf(const QString& folder, const QString& prefix);

} // namespace TestArchives
