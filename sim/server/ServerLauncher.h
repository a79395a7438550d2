#pragma once

#include <QStringList>

struct AdbDevice;

// "adb shell CLASSPATH=/data/local/tmp/scrcpy-server.jar app_process / com.genymobile.scrcpy.Server
// 5.0.1 ...": run by the display-server program that adb becomes, as adb relays a remote process. It
// checks the pushed jar, the class and the version, then serves one session. Returns the exit status.
namespace ServerLauncher {
int run(const AdbDevice& device, const QStringList& tokens);
}
