#include "app/ctl/CtlCommand.h"
#include "platform/CommandChannel.h"

#include <cstdio>

namespace {

int run(const QStringList& arguments) {
    if (arguments.size() != 1) return exitUsage;
    switch (sendCommand(arguments.first())) {
    case CommandDelivery::delivered:
        return exitSuccess;
    case CommandDelivery::notRunning:
        std::fputs("vantlectl: Vantle is not running\n", stderr);
        return exitFailure;
    case CommandDelivery::failed:
        break;
    }
    std::fputs("vantlectl: Vantle did not acknowledge the command\n", stderr);
    return exitFailure;
}

} // namespace

const CtlCommand sendCtlCommand{
    "send", "send <command>          deliver an automation command to the running Vantle (\"open:Notes\")", run};
