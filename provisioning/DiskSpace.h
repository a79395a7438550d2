#pragma once

#include "provisioning/RuntimePlan.h"

#include <QList>
#include <QString>
#include <optional>

// Whether the runtime folder's file system can take what set-up is about to write: the archives,
// what they unpack to, and the virtual device's data partition. Checked before the first download
// and again before each unpack, when the archives' own uncompressed sizes are known, so that a
// full disk is named up front instead of failing half way through a gigabyte.
namespace DiskSpace {

// Before an archive is downloaded only its compressed size is known; Google's SDK zips unpack to
// about three times that (a system image's disk images compress well).
inline constexpr double unpackFactorEstimate = 3.0;
// The data partition the AVD's config.ini asks for (disk.dataPartition.size).
inline constexpr qint64 dataPartitionBytes = 6'442'450'944;

// One archive still to be installed: bytes still to download, and what it unpacks to (known once
// downloaded, else estimated from its size).
struct Pending {
    qint64 downloadBytes = 0;
    std::optional<qint64> unpackedBytes;
    qint64 listedBytes = 0; // the size the list states
};
qint64 needed(const QList<Pending>& archives);

// Free bytes for an unprivileged user on the file system of `folder` (or of its nearest existing
// parent); nothing when that cannot be told.
std::optional<qint64> freeBytes(const QString& folder);

// "Android needs about 9.4 GB free in <folder>; 2.1 GB are free." when `free` is short of `need`,
// else nothing.
std::optional<QString> shortfall(qint64 need, qint64 free, const QString& folder);

} // namespace DiskSpace
