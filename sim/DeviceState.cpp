#include "sim/DeviceState.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char* stateName = "state.json";
constexpr const char* receivedName = "received.jsonl";
constexpr const char* launcherActivity = "com.android.launcher3/.uioverrides.QuickstepLauncher";

// Walks `relative` below the folder `dirFd` one component at a time with O_NOFOLLOW, creating
// folders when asked. Returns a descriptor of the last folder or -1.
int walkFolders(int dirFd, const QStringList& parts, bool create) {
    int current = dup(dirFd);
    for (const QString& part : parts) {
        if (part.isEmpty() || part == u"."_s) continue;
        if (part == u".."_s) {
            close(current);
            errno = EACCES;
            return -1;
        }
        const QByteArray name = part.toUtf8();
        if (create) mkdirat(current, name.constData(), 0771);
        const int next = openat(current, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(current);
        if (next < 0) return -1;
        current = next;
    }
    return current;
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

void fillDefaults(QJsonObject& state) {
    const QJsonObject base = DeviceState::defaults();
    for (auto it = base.begin(); it != base.end(); ++it)
        if (!state.contains(it.key())) state.insert(it.key(), it.value());
}

} // namespace

QByteArray readToEnd(int fd) {
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, n);
    }
    return bytes;
}

int openInside(const QString& root, const QString& relative, int flags, int mode) {
    const int rootFd = open(root.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return -1;
    QStringList parts = relative.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        close(rootFd);
        errno = EISDIR;
        return -1;
    }
    const QByteArray last = parts.takeLast().toUtf8();
    const int folder = walkFolders(rootFd, parts, false);
    close(rootFd);
    if (folder < 0) return -1;
    const int fd = openat(folder, last.constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    const int saved = errno;
    close(folder);
    errno = saved;
    return fd;
}

DeviceState::DeviceState(const QString& dataRoot) {
    const int rootFd = open(dataRoot.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return;
    folderFd = walkFolders(rootFd, {u"system"_s, u"sim"_s}, true);
    close(rootFd);
}

DeviceState::~DeviceState() {
    if (folderFd >= 0) close(folderFd);
}

QJsonObject DeviceState::defaults() {
    QJsonObject volumes{{u"3"_s, QJsonObject{{u"current"_s, 5}, {u"min"_s, 0}, {u"max"_s, 25}}},
                        {u"5"_s, QJsonObject{{u"current"_s, 5}, {u"min"_s, 0}, {u"max"_s, 7}}}};
    QJsonObject settings{{u"global"_s, QJsonObject{{u"private_dns_mode"_s, u"opportunistic"_s}}},
                         {u"secure"_s, QJsonObject{}},
                         {u"system"_s, QJsonObject{{u"screen_brightness"_s, u"102"_s}}}};
    return QJsonObject{{u"packages"_s, QJsonObject{}},
                       {u"nextUid"_s, firstApplicationUid + 100},
                       {u"settings"_s, settings},
                       {u"nightMode"_s, u"no"_s},
                       {u"volumes"_s, volumes},
                       {u"clipboard"_s, QString()},
                       {u"resumed"_s, QString::fromLatin1(launcherActivity)},
                       {u"notifications"_s, QJsonArray{}},
                       {u"mediaSessions"_s, QJsonArray{}},
                       {u"mediaStore"_s, QJsonArray{}},
                       {u"nextMediaId"_s, 31},
                       {u"reverse"_s, QJsonObject{}},
                       {u"faults"_s, QJsonObject{}}};
}

int DeviceState::lockFile(int operation) const {
    if (folderFd < 0) return -1;
    const int fd = openat(folderFd, ".lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    while (flock(fd, operation) != 0 && errno == EINTR) {
    }
    return fd;
}

QJsonObject DeviceState::readUnlocked() const {
    QJsonObject state = QJsonDocument::fromJson(readFile(stateName)).object();
    fillDefaults(state);
    return state;
}

QJsonObject DeviceState::read() const {
    const int lock = lockFile(LOCK_SH);
    QJsonObject state = readUnlocked();
    if (lock >= 0) close(lock);
    return state;
}

bool DeviceState::update(const std::function<bool(QJsonObject&)>& change) {
    const int lock = lockFile(LOCK_EX);
    if (lock < 0) return false;
    QJsonObject state = readUnlocked();
    bool written = false;
    if (change(state)) written = writeFile(stateName, QJsonDocument(state).toJson(QJsonDocument::Indented));
    close(lock);
    return written;
}

QByteArray DeviceState::readFile(const char* name) const {
    if (folderFd < 0) return {};
    const int fd = openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    QByteArray bytes = readToEnd(fd);
    close(fd);
    return bytes;
}

bool DeviceState::writeFile(const char* name, const QByteArray& bytes) {
    if (folderFd < 0) return false;
    const QByteArray temporary = QByteArray(name) + ".tmp-" + QByteArray::number(getpid());
    const int fd =
        openat(folderFd, temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (fd < 0) return false;
    const bool ok = writeAll(fd, bytes);
    close(fd);
    if (!ok || renameat(folderFd, temporary.constData(), folderFd, name) != 0) {
        unlinkat(folderFd, temporary.constData(), 0);
        return false;
    }
    return true;
}

void DeviceState::record(QJsonObject event) {
    if (folderFd < 0) return;
    event.insert(u"atMs"_s, QDateTime::currentMSecsSinceEpoch());
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    const int fd =
        openat(folderFd, receivedName, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (fd < 0) return;
    // One write per line: O_APPEND keeps concurrent writers' lines whole.
    writeAll(fd, line);
    close(fd);
}

QList<QJsonObject> DeviceState::received() const {
    QList<QJsonObject> events;
    for (const QByteArray& line : readFile(receivedName).split('\n')) {
        if (line.isEmpty()) continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject()) events.append(document.object());
    }
    return events;
}

void DeviceState::clearReceived() {
    if (folderFd >= 0) unlinkat(folderFd, receivedName, 0);
}
