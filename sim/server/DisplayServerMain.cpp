// The simulated device's display server: what "adb shell CLASSPATH=… app_process / …Server 5.0.1 …"
// runs. adb replaces itself with this program (as adb relays a remote process), so that adb's
// other commands start without loading the encoder. Installed as <sdk>/emulator/sim/display-server;
// its arguments are the shell command's words.
#include "sim/AdbDevice.h"
#include "sim/SimLayout.h"
#include "sim/server/ServerLauncher.h"

#include <cstdio>

int main(int argc, char** argv) {
    QStringList tokens;
    for (int i = 1; i < argc; ++i)
        tokens.append(QString::fromLocal8Bit(argv[i]));
    const QString sdk = SimLayout::sdkOfExecutable(2);
    const std::optional<RunningEmulator> running = EmulatorRun::find(sdk, SimLayout::consolePort);
    if (!running || !running->booted) {
        std::fputs("error: device offline\n", stderr);
        return 1;
    }
    if (tokens.size() < 2) return 1;
    return ServerLauncher::run(AdbDevice{sdk, *running}, tokens);
}
