#pragma once

#include <QString>
#include <functional>
#include <optional>

// The one yes/no question the app lock asks: may the person at the computer do this? How the
// answer is obtained (a password prompt, a fingerprint) is the implementation's. Main thread.
class DeviceOwnerAuthenticator {
public:
    virtual ~DeviceOwnerAuthenticator() = default;

    // Nothing when the question can be asked; otherwise why not.
    virtual std::optional<QString> unavailableReason() = 0;
    // Asks, showing `reason` ("open Notes"). `reply` runs once on the main thread: true with an empty
    // error, or false with the system's words (empty when the person cancelled).
    virtual void evaluate(const QString& reason, std::function<void(bool success, QString error)> reply) = 0;
};
