#include "app/ctl/CtlCommand.h"
#include "platform/CommandChannel.h"
#include "platform/CommandFrame.h"

#include <cstdio>

namespace {

int run(const QStringList& arguments) {
    if (arguments.size() != 1) return exitUsage;
    switch (sendCommand(arguments.first())) {
    case CommandDelivery::delivered:
        return exitSuccess;
    case CommandDelivery::notRunning:
        std::fputs("vantlectl: Vantle is not running\n", stderr);
        break;
    case CommandDelivery::notAnswering:
        std::fputs("vantlectl: Vantle is running but did not answer; try again\n", stderr);
        break;
    case CommandDelivery::tooLong:
        std::fprintf(stderr, "vantlectl: the command is too long (%lld bytes; at most %u)\n",
                     static_cast<long long>(arguments.first().toUtf8().size()), CommandFrame::maxTextBytes);
        break;
    }
    return exitFailure;
}

} // namespace

const CtlCommand sendCtlCommand{
    "send", "send <command>          deliver an automation command to the running Vantle (\"open:Notes\")", run};
