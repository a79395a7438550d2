#include "ui/SettingEffects.h"

#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "integrations/DeviceSettings.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "windows/AndroidWindowRegistry.h"

#include <QtConcurrent>

using namespace Qt::Literals::StringLiterals;

namespace SettingEffects {

namespace {
// Device work blocks on adb; nobody waits for its result.
void onAndroidPool(void (*work)()) {
    (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), work);
}
} // namespace

QString change(const QString& key, const QVariant& value) {
    const SettingsWrite written = VantleSettings::set(key, value);
    if (!written) VantleLog::main().write(u"settings: "_s + key + u" not saved: "_s + written.error);
    apply(key);
    return written.error;
}

void apply(const QString& key) {
    using namespace SettingsKeys;
    if (key == adBlock.key() || key == adBlockHost.key()) {
        onAndroidPool(AndroidAdBlock::apply);
    } else if (key == syncDarkMode.key()) {
        onAndroidPool(AndroidDarkMode::apply);
    } else if (key == micCamera.key()) {
        // The emulator reads its hardware only when it starts; the next start carries the change.
        VantleLog::main().write(u"microphone/camera setting changed"_s);
        onAndroidPool([] { AndroidHardware::apply(AndroidRuntimePaths::current()); });
    } else if (key == idleShutdownMinutes.key()) {
        AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
        // A pending shutdown was timed with the old minutes ("Never" drops it).
        if (registry.idleShutdownPending()) registry.scheduleIdleShutdown();
    }
    EventCenter::shared().post(QLatin1StringView(key.toLatin1()));
}

} // namespace SettingEffects
