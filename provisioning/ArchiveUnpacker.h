#pragma once

#include <QString>

// Unpacks a downloaded SDK archive (zip; tar works too) into a folder, in process with libarchive.
// Folders are created, executable bits and relative symbolic links kept. Archives come from the
// network, so an entry is refused, and the unpack fails, when its path is absolute, has a ".."
// component, would be written through a symbolic link, or is a link whose target leaves the
// destination. Nothing is written outside the destination; entries before a refused one stay.
// Blocking: run it on the thread pool. Memory use does not depend on the archive's size.
namespace ArchiveUnpacker {

// Returns an empty string on success, else what went wrong (for the log).
QString unpack(const QString& archivePath, const QString& destination);

} // namespace ArchiveUnpacker
