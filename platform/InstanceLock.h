#pragma once

#include <QString>
#include <memory>
#include <optional>

class QLockFile;

// One Vantle per user (per VANTLE_HOME): whoever holds the lock file in Locations::runState() is
// the running Vantle, for as long as its process lives; the operating system releases the lock
// when the process ends, however it ends. The command channel only carries commands to it; it
// never decides who runs.
class InstanceLock {
public:
    // Takes the lock, or tells who holds it.
    static InstanceLock acquire();
    // The pid of the running Vantle, without touching the lock; none when no live process holds it.
    static std::optional<qint64> runningPid();

    InstanceLock(InstanceLock&&) noexcept;
    InstanceLock& operator=(InstanceLock&&) noexcept;
    ~InstanceLock(); // releases the lock

    bool isHeld() const { return m_file != nullptr; }
    std::optional<qint64> holderPid() const { return m_holderPid; } // when not held: the other Vantle
    const QString& error() const { return m_error; }                // when not held: why, for the log

private:
    InstanceLock() = default;
    std::unique_ptr<QLockFile> m_file;
    std::optional<qint64> m_holderPid;
    QString m_error;
};
