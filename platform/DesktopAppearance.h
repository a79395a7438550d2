#pragma once

#include <functional>
#include <optional>

class QObject;

// Whether the desktop prefers a dark appearance, and news of its changes.
namespace DesktopAppearance {

// Nothing when the desktop does not say. Blocks briefly; safe from any thread.
std::optional<bool> prefersDark();
// Calls `changed` on the context's thread whenever the preference changes, while `context` lives.
void observe(QObject* context, std::function<void()> changed);

} // namespace DesktopAppearance
