#pragma once

#include <QDateTime>
#include <QString>

// Where screenshots and recordings go and what they are called: the app's title (every "/" a "-")
// and the local time to the second, e.g. "A-B 2026-03-03 at 14.05.09.png".
namespace CaptureFolders {

QString pictures(); // the user's pictures folder + "/Vantle"
QString movies();   // the user's videos folder + "/Vantle"

// The name without the folder; `copy` 1 is the plain name, 2 and up add " 2", " 3"… before the
// extension.
QString fileName(const QString& app, const QString& ext, const QDateTime& time, int copy = 1);

// A new file in `folder` (created with its parents; a failure is left to the write that follows):
// the plain name, or the first numbered copy that does not exist yet. The file is created empty, so
// a second capture in the same second never gets the same name, even while the first is still
// being written.
QString file(const QString& folder, const QString& app, const QString& ext,
             const QDateTime& time = QDateTime::currentDateTime());

} // namespace CaptureFolders
