#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

// The names of the files in Android's Download folder that Vantle has copied, tried to copy, or
// sent there itself ("Vantle.downloads.seen.v1"): the download watcher never copies them (again).
// A key that was never written marks the watcher's very first run. One instance, owned by the
// application and shared by the watcher (GUI thread) and the drop handling (the thread pool):
// every access holds its lock.
class SeenDownloads {
public:
    void insert(const QStringList& names);
    // The set, or nothing when it was never stored.
    std::optional<QSet<QString>> load();

private:
    std::optional<QSet<QString>> loadLocked();

    std::mutex m_lock;
    std::optional<QSet<QString>> m_names; // cached after the first read or write
};
