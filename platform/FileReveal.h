#pragma once

#include <QString>

// Shows a file selected in the desktop's file manager; when no file manager answers, opens the
// folder that holds it. Main thread; returns at once, failures are silent.
void revealInFileManager(const QString& path);
