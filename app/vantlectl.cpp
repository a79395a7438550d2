// vantlectl: Vantle's headless commands.
#include "platform/CommandChannel.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int exitUsage = 2;

int usage() {
    std::fputs("usage: vantlectl send <command>    deliver an automation command to the running Vantle\n"
               "                                   (for example: vantlectl send \"open:Notes\")\n",
               stderr);
    return exitUsage;
}

int send(const QString& command) {
    switch (sendCommand(command)) {
    case CommandDelivery::delivered:
        return 0;
    case CommandDelivery::notRunning:
        std::fputs("vantlectl: Vantle is not running\n", stderr);
        return 1;
    case CommandDelivery::failed:
        std::fputs("vantlectl: Vantle did not acknowledge the command\n", stderr);
        return 1;
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == u"send"_s) return send(arguments[2]);
    return usage();
}
