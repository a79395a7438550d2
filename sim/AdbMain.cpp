// The simulated adb: the argument grammar Vantle uses, against the one simulated emulator of the
// SDK this adb belongs to. Outputs, errors and exit statuses are those of Google's adb.
#include "sim/AdbDevice.h"
#include "sim/SimLayout.h"

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

int devices(const QString& sdk, bool longForm) {
    std::printf("List of devices attached\n");
    if (const std::optional<RunningEmulator> running = EmulatorRun::find(sdk, SimLayout::consolePort)) {
        const char* state = running->booted ? "device" : "offline";
        if (longForm)
            std::printf("%-22s %s product:sdk_gphone64_x86_64 model:sdk_gphone64_x86_64 device:emu64x "
                        "transport_id:1\n",
                        SimLayout::serial, state);
        else
            std::printf("%s\t%s\n", SimLayout::serial, state);
    }
    std::printf("\n");
    return 0;
}

int usage() {
    std::fputs("adb: usage: adb [-s SERIAL] "
               "(devices|shell|exec-out|emu|install|install-multiple|uninstall|push|pull|"
               "reverse) ...\n",
               stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString serial;
    while (!arguments.isEmpty() && arguments.first().startsWith(u'-')) {
        const QString option = arguments.takeFirst();
        if (option == u"-s"_s) {
            if (arguments.isEmpty()) return usage();
            serial = arguments.takeFirst();
        } else if (option == u"-P"_s || option == u"-H"_s || option == u"-t"_s) {
            if (!arguments.isEmpty()) arguments.removeFirst();
        } else if (option != u"-e"_s && option != u"-d"_s) {
            std::fprintf(stderr, "adb: unknown option %s\n", qPrintable(option));
            return 1;
        }
    }
    if (arguments.isEmpty()) return usage();
    const QString command = arguments.takeFirst();
    const QString sdk = SimLayout::sdkOfExecutable(1);

    if (command == u"devices"_s) return devices(sdk, arguments.contains(u"-l"_s));
    if (command == u"version"_s) {
        std::printf("Android Debug Bridge version 1.0.41\nVersion 35.0.2-vantle-sim\nInstalled as %s\n",
                    qPrintable(sdk + u"/platform-tools/adb"_s));
        return 0;
    }
    if (command == u"start-server"_s || command == u"kill-server"_s) return 0;

    static const QStringList deviceCommands{
        u"shell"_s,     u"exec-out"_s, u"emu"_s,  u"install"_s, u"install-multiple"_s,
        u"uninstall"_s, u"push"_s,     u"pull"_s, u"reverse"_s, u"get-state"_s};
    if (!deviceCommands.contains(command)) {
        std::fprintf(stderr, "adb: unknown command %s\n", qPrintable(command));
        return 1;
    }
    if (!serial.isEmpty() && serial != QLatin1StringView(SimLayout::serial)) {
        std::fprintf(stderr, "error: device '%s' not found\n", qPrintable(serial));
        return 1;
    }
    const std::optional<RunningEmulator> running = EmulatorRun::find(sdk, SimLayout::consolePort);
    if (!running) {
        if (serial.isEmpty())
            std::fputs("error: no devices/emulators found\n", stderr);
        else
            std::fprintf(stderr, "error: device '%s' not found\n", qPrintable(serial));
        return 1;
    }
    const AdbDevice device{sdk, *running};
    if (command == u"emu"_s) return AdbCommands::emu(device, arguments);
    if (command == u"get-state"_s) {
        std::printf("%s\n", running->booted ? "device" : "offline");
        return 0;
    }
    if (!running->booted) {
        std::fputs("error: device offline\n", stderr);
        return 1;
    }
    if (command == u"shell"_s || command == u"exec-out"_s) return AdbCommands::shell(device, arguments);
    if (command == u"install"_s) return AdbCommands::install(device, arguments, false);
    if (command == u"install-multiple"_s) return AdbCommands::install(device, arguments, true);
    if (command == u"uninstall"_s) return AdbCommands::uninstall(device, arguments);
    if (command == u"push"_s) return AdbCommands::push(device, arguments);
    if (command == u"pull"_s) return AdbCommands::pull(device, arguments);
    return AdbCommands::reverse(device, arguments);
}
