#pragma once

#include <QString>

// Shows a file selected in the desktop's file manager. False when no file manager offers that
// (then the caller opens the file's folder instead). Main thread; does not wait for the file
// manager.
bool revealInFileManager(const QString& path);
