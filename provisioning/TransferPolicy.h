#pragma once

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>

// How set-up talks HTTP, the same for Google's lists and its archives: redirects are followed
// (mirrors and CDNs use them) unless they lead to a less safe scheme (HTTPS to plain HTTP), TLS
// checks stay on, and a transfer that moves no byte for the stall limit is given up. Without that
// limit a server that never answers, or a body that stops half way, keeps set-up at 0 % for ever.
namespace TransferPolicy {

inline constexpr std::chrono::milliseconds standardStallLimit{60'000};

QNetworkRequest request(const QUrl& url, std::chrono::milliseconds stallLimit);

// Why the transfer was given up by this policy, in words for the user ("no data for 60 s"), or
// nothing. HTTP statuses and other transport errors are the caller's to report.
std::optional<QString> refusal(const QNetworkReply& reply, std::chrono::milliseconds stallLimit);

// Owns a reply or its manager and lets the event loop delete it. A coroutine awaiting a reply
// resumes inside the reply's own `finished` emission (a stall emits it from Qt's time-out handler,
// which goes on using the reply), so deleting the reply or its manager when the coroutine ends
// would free what Qt is still running in. Its signals are cut first: the coroutine's handlers
// capture its frame, which is gone by the time the event loop gets to the deletion.
struct DeleteLater {
    void operator()(QObject* object) const {
        object->disconnect();
        object->deleteLater();
    }
};
template <typename T>
using Owned = std::unique_ptr<T, DeleteLater>;

} // namespace TransferPolicy
