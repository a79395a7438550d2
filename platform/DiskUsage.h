#pragma once

#include <QString>

namespace DiskUsage {

// The space a path takes on disk: the blocks allocated to it and, for a folder, to everything
// below it (links are counted, never followed). 0 for a path that does not exist. Blocks: walks
// the whole tree, so call it off the main thread for big folders.
qint64 allocatedBytes(const QString& path);

} // namespace DiskUsage
