// A child process for the settings tests: writes a settings file in ways a test can interrupt.
//   settings_writer loop <path>          rewrite "counter" and a large "blob" until killed
//   settings_writer set <path>           try to store one value; prints "stored", or "refused"
//                                        and the reason on the next line
//   settings_writer fill <path> <bytes>  with files limited to <bytes> (a full disk), try to store
//                                        a value larger than that; prints as "set" does
#include "platform/linux/SettingsFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {
void report(const SettingsWrite& written) {
    if (written)
        std::puts("stored");
    else
        std::printf("refused\n%s\n", written.error.toUtf8().constData());
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 3 && arguments[1] == QStringLiteral("loop")) {
        SettingsFile file(arguments[2]);
        for (qint64 i = 0;; ++i) {
            // Each blob's bytes all equal the counter's low byte, so a reader can tell that the
            // two values come from the same write.
            file.setValue(QStringLiteral("blob"), QByteArray(512 * 1024, char(i & 0xFF)));
            file.setValue(QStringLiteral("counter"), i);
        }
    }
    if (arguments.size() == 3 && arguments[1] == QStringLiteral("set")) {
        SettingsFile file(arguments[2]);
        report(file.setValue(QStringLiteral("a"), 1));
        return 0;
    }
    if (arguments.size() == 4 && arguments[1] == QStringLiteral("fill")) {
        const rlim_t limit = arguments[3].toULongLong();
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
        const rlimit limits{limit, limit};
        setrlimit(RLIMIT_FSIZE, &limits);
        SettingsFile file(arguments[2]);
        report(file.setValue(QStringLiteral("blob"), QByteArray(qsizetype(limit) * 2, 'x')));
        return 0;
    }
    std::fputs("usage: settings_writer loop <path> | set <path> | fill <path> <bytes>\n", stderr);
    return 2;
}
