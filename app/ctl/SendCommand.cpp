#include "app/ctl/CtlCommand.h"
#include "platform/CommandChannel.h"
#include "platform/CommandFrame.h"

#include <QDir>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

// Commands that name a file on this computer. Vantle runs in a folder of its own, so a relative
// path is completed here, from the folder the user typed it in; Vantle refuses relative paths.
const QStringList pathCommands{u"add:"_s, u"drop:"_s, u"restore:"_s};

QString withAbsolutePath(const QString& command) {
    for (const QString& prefix : pathCommands) {
        if (!command.startsWith(prefix)) continue;
        const QString path = command.mid(prefix.size());
        if (path.isEmpty() || QDir::isAbsolutePath(path)) return command;
        return prefix + QDir::current().absoluteFilePath(path); // ".." is resolved by Vantle, on disk
    }
    return command;
}

int run(const QStringList& arguments) {
    if (arguments.size() != 1) return exitUsage;
    const QString command = withAbsolutePath(arguments.first());
    switch (sendCommand(command)) {
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
                     static_cast<long long>(command.toUtf8().size()), CommandFrame::maxTextBytes);
        break;
    }
    return exitFailure;
}

} // namespace

const CtlCommand sendCtlCommand{
    "send",
    "send <command>          deliver an automation command to the running Vantle (\"open:Notes\"); the\n"
    "                          relative path of \"add:\" and \"drop:\" is completed from this folder",
    run};
