// vantlectl: Vantle's headless commands, one subcommand per file in app/ctl/.
#include "app/ctl/CtlCommand.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

const CtlCommand* const commands[] = {&sendCtlCommand, &apkInfoCtlCommand, &launchApkCtlCommand, &simCtlCommand,
                                      &setupCtlCommand};

int usage(FILE* out) {
    std::fputs("usage: vantlectl <command> [arguments]\n", out);
    for (const CtlCommand* command : commands) std::fprintf(out, "  vantlectl %s\n", command->usage);
    return out == stdout ? exitSuccess : exitUsage;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) return usage(stderr);
    const QString name = arguments.takeFirst();
    if (name == u"help"_s || name == u"--help"_s) return usage(stdout);
    for (const CtlCommand* command : commands) {
        if (name != QLatin1StringView(command->name)) continue;
        const int status = command->run(arguments);
        if (status == exitUsage) std::fprintf(stderr, "usage: vantlectl %s\n", command->usage);
        return status;
    }
    std::fprintf(stderr, "vantlectl: unknown command \"%s\"\n", qPrintable(name));
    return usage(stderr);
}
