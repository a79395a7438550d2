#include "updates/UpdateTransport.h"

#include "provisioning/TransferPolicy.h"
#include "updates/UpdateSource.h"

#include <QCoro/QCoroNetworkReply>
#include <QFile>
#include <QNetworkReply>

using namespace Qt::Literals::StringLiterals;

namespace {

// Follows only the redirects the update rules allow; `refused` says why one was not followed.
TransferPolicy::Owned<QNetworkReply> get(QNetworkAccessManager& network, const QUrl& url, QString& refused) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(int(TransferPolicy::standardStallLimit.count()));
    TransferPolicy::Owned<QNetworkReply> reply(network.get(request));
    QNetworkReply* raw = reply.get();
    // Qt already reports the redirect's target as the reply's URL here: the step is judged against
    // the address this reply was at before it.
    QObject::connect(raw, &QNetworkReply::redirected, raw,
                     [raw, &refused, at = url](const QUrl& target) mutable {
                         if (UpdateSources::isAllowedRedirect(at, target)) {
                             at = target;
                             Q_EMIT raw->redirectAllowed();
                             return;
                         }
                         refused = at.scheme() == u"https"_s && target.scheme() == u"http"_s
                                       ? u"refused a redirect from HTTPS to plain HTTP"_s
                                       : u"refused a redirect to "_s + target.toDisplayString();
                         raw->abort();
                     });
    return reply;
}

QString refusedAddress(const QUrl& url) {
    return u"refused the address "_s + url.toDisplayString() + u" (only HTTPS)"_s;
}

} // namespace

UpdateTransport::UpdateTransport()
    : m_network(new QNetworkAccessManager, TransferPolicy::DeleteLater()) {}

QCoro::Task<std::optional<QByteArray>> UpdateTransport::fetch(QUrl url) {
    if (!UpdateSources::isAllowedAddress(url)) co_return std::nullopt;
    const std::shared_ptr<QNetworkAccessManager> network = m_network;
    QString refused;
    const TransferPolicy::Owned<QNetworkReply> reply = get(*network, url, refused);
    QByteArray body;
    bool tooLong = false;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), [&] {
        body += reply->readAll();
        if (body.size() > maxAnswerBytes) {
            tooLong = true;
            reply->abort();
        }
    });
    co_await reply.get();
    body += reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tooLong || !refused.isEmpty() || reply->error() != QNetworkReply::NoError || status != 200)
        co_return std::nullopt;
    co_return body;
}

QCoro::Task<UpdateTransport::Download> UpdateTransport::download(QUrl url, QString destination) {
    using Outcome = Download::Outcome;
    if (!UpdateSources::isAllowedAddress(url)) co_return Download{Outcome::failed, refusedAddress(url)};
    QFile file(destination);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        co_return Download{Outcome::failed, file.errorString()};
    const std::shared_ptr<QNetworkAccessManager> network = m_network;
    QString refused, writeError;
    const TransferPolicy::Owned<QNetworkReply> reply = get(*network, url, refused);
    qint64 written = 0;
    const auto status = [&reply] {
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    };
    const auto save = [&] {
        if (status() != 200) return; // an error page is no APK
        const QByteArray chunk = reply->readAll();
        if (file.write(chunk) != chunk.size()) {
            writeError = file.errorString();
            reply->abort();
        }
        written += chunk.size();
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), save);
    co_await reply.get();
    save();
    if (!file.flush() && writeError.isEmpty()) writeError = file.errorString();
    file.close();

    Download result{Outcome::saved, {}};
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!writeError.isEmpty())
        result = {Outcome::failed, writeError};
    else if (!refused.isEmpty())
        result = {Outcome::failed, refused};
    else if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() && status() != 200)
        result = {Outcome::notOk, {}};
    else if (reply->error() != QNetworkReply::NoError)
        result = {Outcome::failed, reply->errorString()};
    else if (length.isValid() && written != length.toLongLong())
        result = {Outcome::failed, u"the connection closed before the whole file arrived"_s};
    if (result.outcome != Outcome::saved) file.remove();
    co_return result;
}
