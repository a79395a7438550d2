#pragma once

#include <QString>

// The backup file (a ZIP archive) and the two gzip'd tar archives of app data inside it, in
// process with libarchive. A backup file comes from anywhere, so reading one trusts nothing in it:
// every check below runs on the host before anything reaches the device. All functions block and
// stream: memory use does not grow with the size of the archives. Usable from any thread.
namespace BackupArchive {

// Limits for reading a backup file. A backup holds info.json, the APKs and two data archives.
inline constexpr int maxEntries = 256;
inline constexpr qint64 maxEntryBytes = qint64(32) << 30;
inline constexpr qint64 maxTotalBytes = qint64(64) << 30;
inline constexpr qint64 maxInfoBytes = 64 << 10; // info.json

// Writes the regular files at the top of `folder` into a new ZIP archive at `zipPath`, which must
// not exist yet: it is created exclusively, readable and writable by its owner only (0600). Empty
// on success, else why not; a failed write leaves no file behind.
QString write(const QString& folder, const QString& zipPath);

// Unpacks the files at the top of the ZIP archive `zipPath` into the existing, empty `folder`.
// Refuses (and returns why) anything that is not a ZIP archive, entries that are links or devices,
// absolute paths, ".." components, duplicate names, more than maxEntries entries, and entries
// larger than their limits (counted while unpacking, not believed from the headers). Entries in
// subfolders are not part of a backup and are skipped.
QString read(const QString& zipPath, const QString& folder);

// Which device folder a data archive is unpacked into: /data/data (the app's private folder, with
// its lib link) or /sdcard/Android/data (external files: no links of any kind).
enum class TarScope { appData, externalData };

// Whether the gzip'd tar at `tgzPath` unpacks into `package`'s own folder and nowhere else: every
// entry lies under "<package>/", no absolute path, no "..", nothing written through a link (the
// app's "lib" link included), links pointing only inside the folder, no device files. Empty when
// it does, else why not.
QString checkTar(const QString& tgzPath, const QString& package, TarScope scope);

// The rule for one tar entry on its own (what lies under a link is checkTar's, across entries):
// `linkTarget` is the target of a symbolic or hard link. Empty when the entry is acceptable.
enum class EntryType { file, folder, symlink, hardLink, fifo, device };
QString tarEntryProblem(const QString& name, EntryType type, const QString& linkTarget,
                        const QString& package, TarScope scope);

} // namespace BackupArchive
