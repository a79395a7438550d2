#include "sim/server/ServerLauncher.h"

#include "sim/AdbDevice.h"
#include "sim/DeviceState.h"
#include "sim/server/DisplayServer.h"
#include "sim/server/ServerOptions.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "[server] ERROR: Exception on thread Thread[main,5,main]\n%s\n", qPrintable(text));
    return 1;
}

// The jar must have been pushed: a regular, non-empty file inside the device.
bool jarPresent(const AdbDevice& device, const QString& path) {
    if (!path.startsWith(u"/data/"_s)) return false;
    const int fd = openInside(device.facts.dataRoot, path.mid(6), O_RDONLY);
    if (fd < 0) return false;
    struct stat info {};
    const bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    close(fd);
    return ok;
}

} // namespace

namespace ServerLauncher {

int run(const AdbDevice& device, const QStringList& tokens) {
    const QString jar = tokens[0].mid(QStringLiteral("CLASSPATH=").size());
    const QString className = tokens.value(3);
    if (!jarPresent(device, jar) || className != QLatin1StringView(serverClass))
        return fail(u"java.lang.ClassNotFoundException: Didn't find class \"%1\" on path: DexPathList[[zip "
                    u"file \"%2\"],"
                    u"nativeLibraryDirectories=[/system/lib64, /system_ext/lib64]]"_s.arg(className, jar));
    QString error;
    const std::optional<ServerOptions> options = ServerOptions::parse(tokens.mid(4), error);
    if (!options) return fail(error);
    if (options->videoCodec != u"h264"_s)
        return fail(
            u"com.genymobile.scrcpy.util.ConfigurationException: Could not find encoder for codec "_s +
            options->videoCodec);
    std::printf("[server] INFO: Device: [Google] google sdk_gphone64_x86_64 (Android API %d)\n",
                device.facts.api);
    std::fflush(stdout);
    DisplayServer server(device, *options);
    return server.run();
}

} // namespace ServerLauncher
