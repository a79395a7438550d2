#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>

// Downloads one URL to `destination`, reporting bytes written and expected (-1 when the server does
// not say). The body goes to destination + ".part" and is moved into place only after a complete
// HTTP 200 (or 206) answer. An interrupted download keeps its partial file, and the next run asks
// the server for the rest with a range request; a server that ignores the range sends the whole
// body again, which replaces the partial file. The caller's checksum decides whether the result is
// good. Requests follow TransferPolicy (safe redirects only, TLS checks on); a transfer that moves
// no byte for `stallLimit` is given up, its partial file kept for the resume.
//
// Runs on the main thread; Qt's network stack delivers the body there in chunks, so memory use does
// not grow with the file's size.
class DownloadDelegate {
public:
    using Progress = std::function<void(qint64 written, qint64 expected)>;

    DownloadDelegate(QString destination, Progress progress, std::chrono::milliseconds stallLimit);

    // Throws RuntimeProvisionError::download on HTTP errors, transport errors, a stall, a short
    // body or a failed write.
    QCoro::Task<> run(QUrl url);

    static QString partialPath(const QString& destination) { return destination + QStringLiteral(".part"); }

private:
    QString m_destination;
    Progress m_progress;
    std::chrono::milliseconds m_stallLimit;
};
