#include "LoopbackHttpServer.h"

#include <QFile>
#include <QProcess>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

LoopbackHttpServer::LoopbackHttpServer(std::optional<Tls> tls)
    : m_tls(tls.has_value()) {
    if (tls) {
        auto server = std::make_unique<QSslServer>();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(tls->certificate);
        configuration.setPrivateKey(tls->key);
        server->setSslConfiguration(configuration);
        m_server = std::move(server);
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    m_server->listen(QHostAddress::LocalHost);
    // Emitted once a connection is ready for use: for HTTPS after the handshake.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            if (socket->bytesAvailable() > 0) answer(socket); // arrived during the TLS handshake
        }
    });
}

const LoopbackHttpServer::Tls& LoopbackHttpServer::selfSigned() {
    static const Tls tls = [] {
        QTemporaryDir dir;
        QProcess openssl;
        openssl.setWorkingDirectory(dir.path());
        openssl.start(u"/usr/bin/openssl"_s,
                      u"req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                      u"-addext subjectAltName=IP:127.0.0.1 -keyout key -out cert"_s.split(u' '));
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
            qFatal("openssl could not make the loopback certificate: %s",
                   openssl.readAllStandardError().data());
        QFile key(dir.filePath(u"key"_s));
        key.open(QIODevice::ReadOnly);
        return Tls{QSslCertificate::fromPath(dir.filePath(u"cert"_s)).value(0), QSslKey(&key, QSsl::Rsa)};
    }();
    return tls;
}

QUrl LoopbackHttpServer::url(const QString& path) const {
    return QUrl((m_tls ? u"https"_s : u"http"_s) + u"://127.0.0.1:%1"_s.arg(m_server->serverPort()) + path);
}

void LoopbackHttpServer::answer(QTcpSocket* socket) {
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n") || socket->property("answered").toBool()) return;
    socket->setProperty("answered", true);

    const QList<QByteArray> lines = head.left(head.indexOf("\r\n\r\n")).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request{requestLine.value(1), {}};
    for (const QByteArray& line : lines)
        if (line.toLower().startsWith("range:")) request.range = line.mid(6).trimmed();
    requests.append(request);

    Answer found = m_answers.value(request.path, Answer{404, "not here", -1, -1, false});
    if (found.silent) return;
    QByteArray body = found.body;
    int status = found.status;
    QByteArray extra;
    if (!found.location.isEmpty()) extra = "Location: " + found.location + "\r\n";
    if (status == 200 && found.ranges && request.range.startsWith("bytes=")) {
        const qsizetype from = request.range.mid(6, request.range.indexOf('-') - 6).toLongLong();
        if (from >= body.size()) {
            status = 416;
            body.clear();
        } else {
            status = 206;
            extra = "Content-Range: bytes " + QByteArray::number(from) + '-' +
                    QByteArray::number(body.size() - 1) + '/' + QByteArray::number(body.size()) + "\r\n";
            body = body.mid(from);
        }
    }
    if (!found.unsized) extra += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " Status\r\n" + extra +
                  "Connection: close\r\n\r\n");
    if (found.stallAfter >= 0 && found.stallAfter < body.size()) {
        // One more byte a little later (unless release() sends it first): Qt reports progress at most
        // every 100 ms, so a body that stops right after its first chunk would never be reported.
        socket->write(body.left(found.stallAfter));
        m_stalled.append({socket, body.mid(found.stallAfter)});
        QTimer::singleShot(250, socket, [this, socket] {
            for (auto& [stalled, rest] : m_stalled)
                if (stalled == socket) {
                    socket->write(rest.left(1));
                    rest.remove(0, 1);
                }
        });
        return;
    }
    socket->write(found.cutAfter >= 0 ? body.left(found.cutAfter) : body);
    socket->disconnectFromHost();
}

void LoopbackHttpServer::release() {
    for (auto& [socket, rest] : m_stalled)
        if (socket) {
            socket->write(rest);
            socket->disconnectFromHost();
        }
    m_stalled.clear();
}
