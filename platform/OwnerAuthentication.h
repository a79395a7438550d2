#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The device owner's own authentication, as the operating system checks it. On Linux: the password
// of the user this process runs as, checked through PAM with the service "vantle" (a system without
// /etc/pam.d/vantle uses its "other" stack, on Debian the login's common-auth).
namespace OwnerAuthentication {

inline constexpr const char* pamService = "vantle";

// Nothing when a password can be checked; otherwise why not, in the system's words. Cheap enough
// for the main thread (reads the PAM configuration, asks nothing).
std::optional<QString> unavailableReason(const char* service = pamService);

struct Verdict {
    enum class Outcome { accepted, refused, unavailable };
    Outcome outcome = Outcome::refused;
    QString description; // the system's words when not accepted
};

// Checks `password` (UTF-8) for the current user. Blocks, often for seconds after a wrong password
// (PAM modules delay failures): call it on a worker thread. The password's bytes are overwritten
// with zeros before it returns, whatever the verdict.
// `password` must be the only reference to its bytes (not shared with another QByteArray).
Verdict check(QByteArray& password, const char* service = pamService);

} // namespace OwnerAuthentication
