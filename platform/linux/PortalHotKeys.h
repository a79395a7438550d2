#pragma once

#include "platform/GlobalHotKeys.h"

#include <QDBusConnection>

// Global keys through the desktop portal's GlobalShortcuts interface on `bus`; when no portal
// there offers it, keys that are `unavailable` with a sentence saying why.
std::unique_ptr<GlobalHotKeys> makePortalHotKeys(const QDBusConnection& bus);
