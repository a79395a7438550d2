#include "platform/InstanceLock.h"

#include "platform/Locations.h"
#include "platform/PrivateFolder.h"

#include <QFileInfo>
#include <QLockFile>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool processExists(qint64 pid) {
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// QLockFile also holds an flock on the file for the holder's life: a file that can be locked is a
// leftover of a process that is gone, even when its pid now names another process.
bool fileIsLocked(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // also drops a lock taken just now
    return locked;
}

} // namespace

InstanceLock InstanceLock::acquire() {
    InstanceLock lock;
    const QString path = Locations::instanceLock();
    if (!ensurePrivateFolder(QFileInfo(path).absolutePath())) {
        lock.m_error = u"cannot create a private folder for "_s + path;
        return lock;
    }
    auto file = std::make_unique<QLockFile>(path);
    // The lock is stale only when its holder is gone, never because it is old: Vantle runs for days.
    file->setStaleLockTime(0);
    if (file->tryLock(0)) {
        lock.m_file = std::move(file);
        return lock;
    }
    lock.m_holderPid = runningPid();
    lock.m_error = file->error() == QLockFile::LockFailedError
                       ? u"another Vantle is running (pid %1)"_s.arg(lock.m_holderPid.value_or(0))
                       : u"cannot write the lock file "_s + path;
    return lock;
}

std::optional<qint64> InstanceLock::runningPid() {
    const QString path = Locations::instanceLock();
    QLockFile file(path);
    qint64 pid = 0;
    QString host, application;
    if (!file.getLockInfo(&pid, &host, &application) || !processExists(pid) || !fileIsLocked(path))
        return std::nullopt;
    return pid;
}

InstanceLock::InstanceLock(InstanceLock&&) noexcept = default;
InstanceLock& InstanceLock::operator=(InstanceLock&&) noexcept = default;
InstanceLock::~InstanceLock() = default;
