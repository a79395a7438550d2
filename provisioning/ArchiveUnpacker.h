#pragma once

#include <QString>
#include <optional>

// Unpacks a downloaded SDK archive (zip; tar works too) into a folder, in process with libarchive.
// Folders are created, executable bits and relative symbolic links kept. Archives come from the
// network, so an entry is refused, and the unpack fails, when its path is absolute, has a ".."
// component, would be written through a symbolic link, or is a link whose target leaves the
// destination. All or nothing: the archive is unpacked into a hidden staging folder inside the
// destination, and its top-level entries replace those of the same name only once every entry
// unpacked; a refused or damaged archive leaves the destination as it was.
// Blocking: run it on the thread pool. Memory use does not depend on the archive's size.
namespace ArchiveUnpacker {

// Returns an empty string on success, else why the archive was refused, in words for the user
// ("its entry \"../adb\" points outside its folder").
QString unpack(const QString& archivePath, const QString& destination);

// The bytes the archive's files unpack to, from its entries' headers; nothing when it can't be read.
std::optional<qint64> unpackedSize(const QString& archivePath);

} // namespace ArchiveUnpacker
