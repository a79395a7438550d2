#include "platform/CommandChannel.h"
#include "platform/CommandFrame.h"
#include "platform/Locations.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// Linux: a Unix-domain socket in a per-user folder of mode 0700; the socket itself is 0600 and
// every connection's peer user id is checked, so no other user can deliver a command.
namespace {

bool peerIsThisUser(const QLocalSocket* socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    return credentials.uid == ::getuid();
}

bool makePrivateFolder(const QString& folder) {
    if (!QDir().mkpath(folder)) return false;
    const QByteArray native = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0 || info.st_uid != ::getuid()) return false;
    return ::chmod(native.constData(), 0700) == 0;
}

class LocalCommandListener final : public CommandListener {
public:
    explicit LocalCommandListener(Handler handler)
        : m_handler(std::move(handler)) {
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] { acceptPending(); });
    }
    ~LocalCommandListener() override {
        m_server.close();
        QLocalServer::removeServer(m_server.fullServerName());
    }

    QString listen(const QString& path) {
        if (!makePrivateFolder(QFileInfo(path).absolutePath()))
            return QStringLiteral("cannot create a private folder for ") + path;
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) return QStringLiteral("another Vantle is listening on ") + path;
        QLocalServer::removeServer(path); // a stale socket of a process that died
        if (!m_server.listen(path)) return m_server.errorString();
        return {};
    }

private:
    void acceptPending() {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            if (!peerIsThisUser(socket)) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            readFrom(socket);
        }
    }

    void readFrom(QLocalSocket* socket) {
        QByteArray buffer = socket->property("pending").toByteArray() + socket->readAll();
        for (;;) {
            const CommandFrame::Decoded frame = CommandFrame::decode(buffer);
            if (frame.status == CommandFrame::Status::invalid) {
                socket->abort();
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
    QLocalServer m_server;
};

} // namespace

CommandListening listenForCommands(CommandListener::Handler handler) {
    auto listener = std::make_unique<LocalCommandListener>(std::move(handler));
    const QString error = listener->listen(Locations::commandSocket());
    if (!error.isEmpty()) return {nullptr, error};
    return {std::move(listener), {}};
}

CommandDelivery sendCommand(const QString& command, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(Locations::commandSocket());
    if (!socket.waitForConnected(timeoutMs)) return CommandDelivery::notRunning;
    socket.write(CommandFrame::encode(command));
    if (!socket.waitForBytesWritten(timeoutMs)) return CommandDelivery::failed;
    if (!socket.waitForReadyRead(timeoutMs)) return CommandDelivery::failed;
    return socket.read(1) == QByteArray(1, CommandFrame::acknowledge) ? CommandDelivery::delivered
                                                                       : CommandDelivery::failed;
}
