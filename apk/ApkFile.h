#pragma once

#include "core/ApkReading.h"

#include <QString>

// Whether a file is an APK at all: a zip archive with a non-empty compiled AndroidManifest.xml.
// What the library and `vantlectl apk-info` accept. Blocking, safe from any thread; never throws.
// Call it only for regular files (LibraryFile::locate): a device such as /dev/zero never ends.
namespace ApkFile {

bool isApk(const QString& path);
// isApk and the label together; a labelled APK is read only once for both.
ApkReading read(const QString& path);

} // namespace ApkFile
