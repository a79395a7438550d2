#pragma once

#include <QString>
#include <optional>

// Open at login, for the General settings page and for start-up. Main thread.
namespace LoginItem {

bool isEnabled();
// Registers (or removes) this program as started at login. On failure returns the text shown
// under the setting: "Your desktop did not allow this: " + the system's reason.
std::optional<QString> set(bool enabled);
// Once per user ("Vantle.loginItemDefaulted"): enables opening at login unless it already is, so a
// user who later switches it off is not overruled. Then writes the log line
// "open at login enabled=" + true/false + " status=" + the raw status, whatever happened.
void enableByDefaultOnce();

} // namespace LoginItem
