#include "stream/SocketIO.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

QString SocketError::description() const {
    return u"failed(\""_s + m_detail + u"\")"_s;
}

std::optional<QByteArray> readExactly(int fd, qsizetype count) {
    QByteArray buffer(count, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, buffer.data() + done, size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += n;
    }
    return buffer;
}

uint32_t readBE(const QByteArray& bytes, qsizetype offset) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData()) + offset;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint64_t readBE64(const QByteArray& bytes, qsizetype offset) {
    return uint64_t(readBE(bytes, offset)) << 32 | readBE(bytes, offset + 4);
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        // MSG_NOSIGNAL: a peer that went away must not kill Vantle with SIGPIPE.
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

LocalListener::LocalListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) throw SocketError(u"socket"_s);
    const int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_fd, 4) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(m_fd);
        m_fd = -1;
        throw SocketError(u"bind/listen"_s);
    }
    m_port = ntohs(address.sin_port);
}

LocalListener::~LocalListener() {
    if (m_fd >= 0) ::close(m_fd);
}

int LocalListener::accept(double timeoutSeconds) {
    pollfd ready{m_fd, POLLIN, 0};
    int polled;
    do {
        polled = ::poll(&ready, 1, int(timeoutSeconds * 1000));
    } while (polled < 0 && errno == EINTR);
    if (polled <= 0) throw SocketError(u"timed out waiting for the Android side to connect"_s);
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) throw SocketError(u"accept"_s);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Linux has no per-socket SIGPIPE option (SO_NOSIGPIPE); every write passes MSG_NOSIGNAL instead.
    return fd;
}
