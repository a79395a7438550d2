#pragma once

#include "core/Models.h"

#include <functional>
#include <optional>

class AppLock;
class CommandRouter;
class Uninstaller;

// The automation commands of data care: "lock:" + app (toggles the lock of the first entry whose
// name or path contains the text) and "uninstall-dryrun".
void registerDataCareCommands(CommandRouter& commands,
                              std::function<std::optional<MobileApp>(const QString& text)> entryMatching,
                              AppLock& lock, const Uninstaller& uninstaller);
