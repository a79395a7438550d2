#include "datacare/DataCareCommands.h"

#include "core/CommandRouter.h"
#include "datacare/AppLock.h"
#include "datacare/Uninstaller.h"

using namespace Qt::Literals::StringLiterals;

void registerDataCareCommands(CommandRouter& commands,
                              std::function<std::optional<MobileApp>(const QString& text)> entryMatching,
                              AppLock& lock, const Uninstaller& uninstaller) {
    commands.onPrefix(u"lock:"_s, [entryMatching = std::move(entryMatching), &lock](const QString& text) {
        if (const std::optional<MobileApp> app = entryMatching(text)) lock.toggle(*app);
    });
    commands.on(u"uninstall-dryrun"_s, [&uninstaller] { uninstaller.dryRun(); });
}
