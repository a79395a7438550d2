#pragma once

#include <QString>
#include <optional>

// Whether Vantle starts when the user logs in to the desktop. On Linux an XDG autostart entry
// (Locations::autostartEntry()) that runs the program's own absolute path. Blocking file work,
// small; main thread.
namespace LoginRegistration {

enum class Status {
    enabled,       // the entry exists and the desktop starts it
    notRegistered, // no entry
    disabled,      // an entry exists but says not to start ("Hidden", or the GNOME switch off)
};

Status status();
// The raw status as written to the log ("enabled", "notRegistered", "disabled").
QString statusName(Status status);

// Each returns what went wrong, in the system's words, or nothing. Enabling rewrites the entry
// atomically; disabling removes it (an entry that is already gone is fine).
std::optional<QString> enable(const QString& program);
std::optional<QString> disable();

} // namespace LoginRegistration
