// make-replay: records a replay file for the display server's replay mode (a synthetic screen
// encoded once with libavcodec), so client benchmarks need not share the processor with an encoder.
//   make-replay <file.h264> [--size WxH] [--frames N]
#include "sim/server/ReplayFile.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    QString size = u"1080x2088"_s;
    int frames = 600;
    bool ok = true;
    for (qsizetype i = arguments.size() - 2; i >= 0; --i) {
        if (arguments[i] == u"--size"_s) size = arguments.takeAt(i + 1);
        else if (arguments[i] == u"--frames"_s) frames = arguments.takeAt(i + 1).toInt(&ok);
        else continue;
        arguments.removeAt(i);
    }
    const int width = size.section(u'x', 0, 0).toInt(), height = size.section(u'x', 1).toInt();
    if (!ok || arguments.size() != 1 || width < 16 || height < 16 || frames < 1) {
        std::fputs("usage: make-replay <file.h264> [--size WxH] [--frames N]\n", stderr);
        return 2;
    }
    const QString error = ReplayFile::create(arguments.first(), width, height, frames);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "make-replay: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
