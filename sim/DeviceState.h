#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

// The simulated device's own state: installed packages, settings, clipboard, notifications, media
// sessions, the resumed activity, reverse tunnels and injected faults, kept as one JSON document
// in the device's /data/system/sim/state.json. Every reader and writer (adb on the host, Android's
// commands inside the device shell, the display server, the control tool) goes through this class,
// which serialises read-modify-write cycles with an exclusive flock on /data/system/sim/.lock, so
// concurrent adb calls always see a consistent state. Writes replace the file atomically.
//
// The folder is reached without following symbolic links, because the device's root shell can
// write anything below /data: a link planted there must not lead a host-side writer outside.
class DeviceState {
public:
    // `dataRoot` is the device's /data: the host folder from the host, "/data" inside the device.
    explicit DeviceState(const QString& dataRoot);
    ~DeviceState();
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    bool isOpen() const { return folderFd >= 0; }

    // The whole state, with defaults for every member that was never written.
    QJsonObject read() const;
    // Applies `change` under the lock; writes the result back when `change` returns true.
    bool update(const std::function<bool(QJsonObject&)>& change);

    // Appends one event (what the device received: control messages, input, settings writes)
    // to received.jsonl, stamped with the time in milliseconds since the epoch.
    void record(QJsonObject event);
    QList<QJsonObject> received() const;
    void clearReceived();

    // Small files of the device's runtime (written by the emulator): "runtime.json".
    QByteArray readFile(const char* name) const;
    bool writeFile(const char* name, const QByteArray& bytes);

    static QJsonObject defaults();

private:
    int lockFile(int operation) const;
    QJsonObject readUnlocked() const;

    int folderFd = -1;
};

// Reads `fd` from its current position to its end.
QByteArray readToEnd(int fd);

// Opens `relative` (a path inside `root`) without following any symbolic link on the way.
// Returns the descriptor or -1 with errno set. Used wherever the host touches device files.
int openInside(const QString& root, const QString& relative, int flags, int mode = 0644);

// Android-style app user ids start here (the first application uid).
inline constexpr int firstApplicationUid = 10000;
