#include "StreamPeer.h"

#include "../StreamTestSupport.h"
#include "core/VantleLog.h"
#include "stream/SocketIO.h"

#include <QDeadlineTimer>
#include <QUuid>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

StreamPeer::StreamPeer(std::shared_ptr<VideoRenderer> renderer) {
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_video);
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_control);
    auto log = std::make_shared<VantleLog>(QUuid::createUuid().toString(QUuid::WithoutBraces) + u".log"_s,
                                           VantleLog::Opening::truncate);
    client = AndroidStreamClient::create(
        {u"/nonexistent/adb"_s, u"emulator-5556"_s, {}, u"org.example.notes"_s, QSizeF(1080, 2088), 320},
        std::move(renderer), std::move(log));
    std::thread([client = client, v = m_video[0], c = m_control[0]] {
        client->serve(v, c, -1, std::chrono::steady_clock::now());
    }).detach();
    readControl(20); // the start-app message comes first
}

StreamPeer::~StreamPeer() {
    client->stop();
    for (int fd : {m_video[1], m_control[1]})
        ::close(fd);
}

QByteArray StreamPeer::readControl(qsizetype count, int timeoutMs) {
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (out.size() < count) {
        pollfd poller{m_control[1], POLLIN, 0};
        if (::poll(&poller, 1, int(deadline.remainingTime())) <= 0) break;
        char buffer[4096];
        const ssize_t got =
            ::read(m_control[1], buffer, size_t(std::min<qsizetype>(count - out.size(), 4096)));
        if (got <= 0) break;
        out.append(buffer, got);
    }
    return out;
}

bool StreamPeer::controlIsQuiet(int quietMs) {
    pollfd poller{m_control[1], POLLIN, 0};
    return ::poll(&poller, 1, quietMs) == 0;
}

bool StreamPeer::sendVideo(const QByteArray& bytes) {
    return writeAll(m_video[1], bytes);
}

bool StreamPeer::startSession(QSize size) {
    return sendVideo(QByteArray(64, 'n') + be32(0x68323634) + sessionPacket(size.width(), size.height()));
}

bool StreamPeer::sendConfiguration(const QByteArray& parameterSets) {
    return sendVideo(mediaPacket(parameterSets, configFlag));
}

bool StreamPeer::sendFrame(const EncodedFrame& frame) {
    return sendVideo(mediaPacket(frame.data, frame.key ? keyFlag : 0));
}
