#include "app/LaunchApk.h"
#include "app/ctl/CtlCommand.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"

#include <QCoro/QCoroTask>

namespace {

int run(const QStringList& arguments) {
    if (arguments.size() != 1) return exitUsage;
    installDeviceSettingsBootHooks();
    return Coroutines::waitFor(launchApkAndReport(arguments.first()));
}

} // namespace

const CtlCommand launchApkCtlCommand{
    "launch-apk", "launch-apk <apk>        boot Android if needed, install the APK unless already installed", run};
