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

// A small HTTP/1.1 server on 127.0.0.1 for the provisioning tests: one answer per path, one
// request per connection. Answers can be cut short (the connection closes after `cutAfter` body
// bytes while Content-Length promises all), can honour "Range: bytes=N-" with 206, and can stall
// after `stallAfter` (+1) bytes until release() is called, redirect elsewhere, or stay silent. With a
// certificate and key it speaks HTTPS. Runs on the test's thread.
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
    };
    struct Tls {
        QSslCertificate certificate;
        QSslKey key;
    };
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
