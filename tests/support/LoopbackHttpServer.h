#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <memory>
#include <optional>

// A small HTTP/1.1 server on 127.0.0.1 for the provisioning and update tests and the update-check
// bench: one answer per path, one request per connection. Answers can be cut short (the connection
// closes after `cutAfter` body bytes while Content-Length promises all), can honour "Range: bytes=N-"
// with 206, and can stall after `stallAfter` (+1) bytes until release() is called, redirect
// elsewhere, stay silent, or send no length. With a certificate and key it speaks HTTPS. Runs on the
// test's thread.
class LoopbackHttpServer : public QObject {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        qsizetype cutAfter = -1;   // close after this many body bytes
        qsizetype stallAfter = -1; // hold the rest until release()
        bool ranges = false;       // answer range requests with 206
        QByteArray location{};     // with a 3xx status: where to
        bool silent = false;       // read the request, never answer
        bool unsized = false;      // no Content-Length: the body ends when the connection does
    };
    struct Tls {
        QSslCertificate certificate;
        QSslKey key;
    };
    // A self-signed certificate for 127.0.0.1, made once per process by the openssl tool; nobody
    // trusts it until a caller adds it to the default configuration's CAs.
    static const Tls& selfSigned();
    struct Request {
        QByteArray path;
        QByteArray range; // the Range header, empty without one
    };

    explicit LoopbackHttpServer(std::optional<Tls> tls = std::nullopt);
    QUrl url(const QString& path) const;
    void serve(const QByteArray& path, Answer answer) { m_answers.insert(path, std::move(answer)); }
    void release();
    QList<Request> requests;

private:
    void answer(QTcpSocket* socket);

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    QHash<QByteArray, Answer> m_answers;
    QList<std::pair<QPointer<QTcpSocket>, QByteArray>> m_stalled;
};
