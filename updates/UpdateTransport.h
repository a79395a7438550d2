#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

// HTTP for the update check and install, on the main thread: only addresses that
// UpdateSources::isAllowedAddress accepts, redirects only where isAllowedRedirect says (never from
// HTTPS down to plain HTTP), TLS checks on, and a transfer that moves no byte for a minute given up.
// Qt delivers bodies in chunks between other events, so the GUI thread is never held for a whole
// transfer.
class UpdateTransport {
public:
    // Package API answers are a few kilobytes; anything past this is not one.
    static constexpr qint64 maxAnswerBytes = 1024 * 1024;

    // The body of a 200 answer; nothing for any other status, a transport error, a refused address
    // or redirect, or a body over maxAnswerBytes.
    QCoro::Task<std::optional<QByteArray>> fetch(QUrl url);

    struct Download {
        enum class Outcome { saved, notOk, failed };
        Outcome outcome = Outcome::failed;
        QString error; // for `failed`: why, in words for the user
    };
    // Writes the body of a 200 answer to `destination` as it arrives. `notOk`: the server answered
    // with another status (nothing kept). `failed`: a transport error, a refused address or
    // redirect, a short body or a failed write (nothing kept).
    QCoro::Task<Download> download(QUrl url, QString destination);

private:
    // Shared with the transfers under way, which may outlive their transport (the app quitting
    // mid-check); deleted by the event loop once the last one let go of it.
    std::shared_ptr<QNetworkAccessManager> m_network;

public:
    UpdateTransport();
};
