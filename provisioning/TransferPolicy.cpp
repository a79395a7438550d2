#include "provisioning/TransferPolicy.h"

using namespace Qt::Literals::StringLiterals;

namespace TransferPolicy {

QNetworkRequest request(const QUrl& url, std::chrono::milliseconds stallLimit) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // Qt aborts the reply when no byte moves for this long: before the headers, across redirects
    // and within the body alike.
    request.setTransferTimeout(int(stallLimit.count()));
    return request;
}

std::optional<QString> refusal(const QNetworkReply& reply, std::chrono::milliseconds stallLimit) {
    switch (reply.error()) {
    case QNetworkReply::InsecureRedirectError:
        return u"refused a redirect from HTTPS to plain HTTP"_s;
    // Qt ends a stalled transfer by cancelling it; set-up never cancels one otherwise.
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return u"no data for %1 s"_s.arg(QString::number(double(stallLimit.count()) / 1000.0, 'g', 4));
    default:
        return std::nullopt;
    }
}

} // namespace TransferPolicy
