#include "provisioning/DownloadDelegate.h"

#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/TransferPolicy.h"

#include <QCoro/QCoroNetworkReply>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <memory>

using namespace Qt::Literals::StringLiterals;

DownloadDelegate::DownloadDelegate(QString destination, Progress progress,
                                   std::chrono::milliseconds stallLimit)
    : m_destination(std::move(destination))
    , m_progress(std::move(progress))
    , m_stallLimit(stallLimit) {}

QCoro::Task<> DownloadDelegate::run(QUrl url) {
    QFile partial(partialPath(m_destination));
    const qint64 kept = partial.exists() ? partial.size() : 0;

    const TransferPolicy::Owned<QNetworkAccessManager> network(new QNetworkAccessManager);
    QNetworkRequest request = TransferPolicy::request(url, m_stallLimit);
    if (kept > 0) request.setRawHeader("Range", "bytes=" + QByteArray::number(kept) + '-');
    const TransferPolicy::Owned<QNetworkReply> reply(network->get(request));

    // Decided when the headers arrive: where the body starts in the partial file, or that the
    // answer carries no body we want.
    qint64 offset = -1;
    qint64 written = 0;
    QString writeError;
    const auto status = [&reply] {
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    };
    const auto openBody = [&] {
        if (offset >= 0 || !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) return;
        if (status() == 206 && kept > 0)
            offset = kept;
        else if (status() == 200)
            offset = 0;
        else
            return;
        if (!partial.open(offset > 0 ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate)) {
            writeError = partial.errorString();
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, reply.get(), openBody);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), [&] {
        openBody();
        if (!partial.isOpen()) return;
        const QByteArray chunk = reply->readAll();
        if (partial.write(chunk) != chunk.size()) {
            writeError = partial.errorString();
            reply->abort();
            return;
        }
        written += chunk.size();
    });
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
                     [&](qint64 received, qint64 total) {
                         const qint64 base = offset > 0 ? offset : 0;
                         m_progress(base + received, total < 0 ? -1 : base + total);
                     });

    co_await reply.get();
    if (partial.isOpen()) {
        if (!partial.flush() && writeError.isEmpty()) writeError = partial.errorString();
        partial.close();
    }
    if (!writeError.isEmpty()) throw RuntimeProvisionError::download(writeError);
    if (const auto refused = TransferPolicy::refusal(*reply, m_stallLimit)) {
        // What arrived stays in the partial file: the next try asks for the rest.
        throw RuntimeProvisionError::download(*refused);
    }
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid() || (code.toInt() != 200 && !(code.toInt() == 206 && offset > 0))) {
        // A range the server cannot satisfy means the kept part is no use.
        if (code.toInt() == 416) QFile::remove(partial.fileName());
        if (!code.isValid() && reply->error() != QNetworkReply::NoError)
            throw RuntimeProvisionError::download(reply->errorString());
        throw RuntimeProvisionError::download(u"HTTP %1"_s.arg(code.toInt()));
    }
    if (reply->error() != QNetworkReply::NoError) throw RuntimeProvisionError::download(reply->errorString());
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && written != length.toLongLong())
        throw RuntimeProvisionError::download(u"the connection closed before the whole file arrived"_s);

    QFile::remove(m_destination);
    if (!QFile::rename(partial.fileName(), m_destination))
        throw RuntimeProvisionError::download(u"could not move the download to "_s + m_destination);
}
