#include "platform/CommandChannel.h"
#include "platform/CommandFrame.h"
#include "platform/InstanceLock.h"
#include "platform/Locations.h"
#include "platform/PrivateFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <deque>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

// Linux: a Unix-domain socket in a per-user folder of mode 0700; the socket itself is 0600 and
// every connection's peer user id is checked, so no other user can deliver a command.
//
// The listening socket is our own rather than a QLocalServer: QLocalServer closes itself, and
// deletes the socket file, on the first failed accept (for example when the process is out of
// file descriptors), which left a running Vantle unreachable.
namespace {

constexpr int backlog = 64;
constexpr int acceptRetryMs = 200; // after running out of descriptors

bool peerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
    return credentials.uid == ::getuid();
}

std::optional<sockaddr_un> socketAddress(const QByteArray& path) {
    sockaddr_un address{};
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path) return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return address;
}

enum class Probe { listening, nobody, unknown };

// Whether some process listens on the socket, asked without waiting: a non-blocking connect to a
// Unix socket succeeds or fails at once. A full queue (EAGAIN) means a busy listener, not a dead one.
Probe probe(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Probe::unknown;
    const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(fd);
    if (result == 0 || error == EAGAIN || error == EINPROGRESS) return Probe::listening;
    if (error == ECONNREFUSED || error == ENOENT) return Probe::nobody;
    return Probe::unknown;
}

class LocalCommandListener final : public CommandListener {
public:
    LocalCommandListener(Handler handler, CommandListenerLimits limits)
        : m_handler(std::move(handler))
        , m_limits(limits) {}

    ~LocalCommandListener() override {
        // The connections are the notifier's children; they go with it, without calling back.
        for (const QPointer<QLocalSocket>& socket : m_connections)
            if (socket) QObject::disconnect(socket, nullptr, nullptr, nullptr);
        m_connections.clear();
        delete m_notifier;
        if (m_fd >= 0) ::close(m_fd);
        // Only our own socket file: a successor may already have replaced it.
        struct stat info {};
        if (!m_path.isEmpty() && ::stat(m_path.constData(), &info) == 0 && info.st_ino == m_inode)
            ::unlink(m_path.constData());
    }

    QString listen(const QString& path) {
        if (!ensurePrivateFolder(QFileInfo(path).absolutePath()))
            return u"cannot create a private folder for "_s + path;
        const QByteArray native = QFile::encodeName(path);
        const std::optional<sockaddr_un> address = socketAddress(native);
        if (!address) return u"socket path too long: "_s + path;
        switch (probe(*address)) {
        case Probe::listening:
            return u"another Vantle is listening on "_s + path;
        case Probe::unknown:
            return u"cannot tell whether another Vantle listens on "_s + path + u": "_s +
                   QString::fromLocal8Bit(std::strerror(errno));
        case Probe::nobody:
            ::unlink(native.constData()); // the socket of a process that died
            break;
        }
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
        struct stat info {};
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
            ::chmod(native.constData(), 0600) != 0 || ::stat(native.constData(), &info) != 0 ||
            ::listen(m_fd, backlog) != 0)
            return u"cannot listen on "_s + path + u": "_s + QString::fromLocal8Bit(std::strerror(errno));
        m_path = native;
        m_inode = info.st_ino;
        m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { acceptPending(); });
        return {};
    }

private:
    void acceptPending() {
        for (;;) {
            const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                adopt(fd);
                continue;
            }
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: keep listening, try again shortly (idle connections time out).
                m_notifier->setEnabled(false);
                QTimer::singleShot(acceptRetryMs, m_notifier, [this] {
                    m_notifier->setEnabled(true);
                    acceptPending();
                });
            }
            return; // EAGAIN: nothing waiting
        }
    }

    void adopt(int fd) {
        if (!peerIsThisUser(fd)) {
            ::close(fd);
            return;
        }
        auto* socket = new QLocalSocket(m_notifier);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            return;
        }
        m_connections.emplace_back(socket);
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->setInterval(m_limits.idleTimeoutMs);
        QObject::connect(idle, &QTimer::timeout, socket, [this, socket] { drop(socket); });
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, idle] {
            idle->start();
            readFrom(socket);
        });
        QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket] { forget(socket); });
        idle->start();
        readFrom(socket);
        while (int(m_connections.size()) > m_limits.maxConnections) {
            QLocalSocket* oldest = m_connections.front();
            m_connections.pop_front();
            if (!oldest) continue;
            readFrom(oldest); // a command that has arrived is still carried out
            drop(oldest);
        }
    }

    void forget(QLocalSocket* socket) {
        std::erase(m_connections, QPointer<QLocalSocket>(socket));
        socket->deleteLater();
    }

    // An acknowledgement already written goes out first: a sender that misses it would send a
    // command that ran a second time. flush() never blocks on a non-blocking socket.
    void drop(QLocalSocket* socket) {
        socket->flush();
        socket->abort();
        forget(socket);
    }

    void readFrom(QLocalSocket* socket) {
        QByteArray buffer = socket->property("pending").toByteArray() + socket->readAll();
        for (;;) {
            const CommandFrame::Decoded frame = CommandFrame::decode(buffer);
            if (frame.status == CommandFrame::Status::invalid) {
                // The rest of the stream cannot be framed: say why, then hang up.
                socket->setProperty("pending", QByteArray());
                socket->write(QByteArray(1, CommandFrame::refusedTooLong));
                socket->disconnectFromServer();
                return;
            }
            if (frame.status == CommandFrame::Status::incomplete) break;
            buffer.remove(0, frame.consumed);
            socket->write(QByteArray(1, CommandFrame::acknowledge));
            m_handler(frame.text);
        }
        socket->setProperty("pending", buffer);
    }

    Handler m_handler;
    CommandListenerLimits m_limits;
    int m_fd = -1;
    QByteArray m_path;
    ino_t m_inode = 0;
    QSocketNotifier* m_notifier = nullptr;            // parent of the connections
    std::deque<QPointer<QLocalSocket>> m_connections; // oldest first
};

} // namespace

CommandListening listenForCommands(CommandListener::Handler handler, CommandListenerLimits limits) {
    auto listener = std::make_unique<LocalCommandListener>(std::move(handler), limits);
    const QString error = listener->listen(Locations::commandSocket());
    if (!error.isEmpty()) return {nullptr, error};
    return {std::move(listener), {}};
}

CommandDelivery sendCommand(const QString& command, int timeoutMs) {
    const QByteArray frame = CommandFrame::encode(command);
    if (quint32(frame.size() - 4) > CommandFrame::maxTextBytes) return CommandDelivery::tooLong;
    // No answer: is nobody there, or is Vantle there and busy? The instance lock tells.
    const auto unanswered = [] {
        return InstanceLock::runningPid() ? CommandDelivery::notAnswering : CommandDelivery::notRunning;
    };
    QLocalSocket socket;
    socket.connectToServer(Locations::commandSocket());
    if (!socket.waitForConnected(timeoutMs)) return unanswered();
    socket.write(frame);
    if (!socket.waitForBytesWritten(timeoutMs) || !socket.waitForReadyRead(timeoutMs)) return unanswered();
    const QByteArray answer = socket.read(1);
    if (answer == QByteArray(1, CommandFrame::acknowledge)) return CommandDelivery::delivered;
    if (answer == QByteArray(1, CommandFrame::refusedTooLong)) return CommandDelivery::tooLong;
    return unanswered();
}
