#include "external/ExternalClient.h"

#include "platform/ChildProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QVersionNumber>

using namespace Qt::Literals::StringLiterals;

namespace ExternalClient {

namespace {
const QString missingClient = u"scrcpy client (only needed for the external-window mode)"_s;
constexpr int versionTimeoutMs = 5000;
} // namespace

std::optional<QString> parseVersion(const QString& versionOutput) {
    static const QRegularExpression firstLine(u"^scrcpy v?(\\d+(?:\\.\\d+)*)"_s);
    const QRegularExpressionMatch match = firstLine.match(versionOutput.trimmed());
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(1);
}

bool acceptsVirtualDisplays(const QString& version) {
    return QVersionNumber::fromString(version).majorVersion() >= minimumMajorVersion;
}

Client locate(const AndroidBridgeComponents& components) {
    Client client;
    if (components.scrcpy && components.source == AndroidBridgeComponents::Source::bundled) {
        client.program = *components.scrcpy;
        client.server = components.server;
        client.iconDirectory = components.iconDirectory;
        client.source = components.source;
        client.version = components.version.value_or(QString());
        return client;
    }
    // An installed client: the one the development fallback found, else the first on PATH.
    const QString found = components.scrcpy.value_or(QStandardPaths::findExecutable(u"scrcpy"_s));
    if (found.isEmpty()) throw AndroidBridgeError::missing(missingClient);
    ChildProcess probe;
    probe.program = found;
    probe.arguments = {u"--version"_s};
    probe.timeoutMs = versionTimeoutMs;
    const ChildProcess::Result result = probe.run();
    const std::optional<QString> version = parseVersion(QString::fromUtf8(result.standardOutput));
    // Older clients (Debian 12 has 1.25) refuse --new-display and --start-app.
    if (!version || !acceptsVirtualDisplays(*version))
        throw AndroidBridgeError::missing(
            u"scrcpy client %1 or newer (only needed for the external-window mode; %2 is %3)"_s.arg(
                QString::number(minimumMajorVersion), found, version.value_or(u"of an unknown version"_s)));
    client.program = found;
    client.version = *version;
    client.source = AndroidBridgeComponents::Source::development;
    // <prefix>/bin/scrcpy serves <prefix>/share/scrcpy/scrcpy-server; a server of another version
    // would be refused by this client, so without its own one the client picks its default.
    const QDir prefix = QFileInfo(QFileInfo(found).canonicalFilePath()).dir().filePath(u".."_s);
    const QString server = QDir::cleanPath(prefix.filePath(u"share/scrcpy/scrcpy-server"_s));
    if (QFileInfo::exists(server)) client.server = server;
    const QString icons = QDir::cleanPath(prefix.filePath(u"share/icons/hicolor/256x256/apps"_s));
    if (QFileInfo(icons).isDir()) client.iconDirectory = icons;
    return client;
}

QStringList arguments(const QString& serial, const QString& package, const QString& title, QSizeF size,
                      bool printFPS) {
    const QString w = QString::number(qRound(size.width())), h = QString::number(qRound(size.height()));
    QStringList list{u"--serial"_s,
                     serial,
                     u"--new-display="_s + w + u'x' + h + u"/240"_s,
                     u"--start-app=+"_s + package,
                     u"--no-audio"_s,
                     u"--max-fps=60"_s,
                     u"--video-bit-rate=4M"_s,
                     u"--window-borderless"_s,
                     u"--window-title=Vantle · "_s + title,
                     u"--window-width="_s + w,
                     u"--window-height="_s + h};
    if (printFPS) list.append(u"--print-fps"_s);
    return list;
}

QProcessEnvironment environment(const QProcessEnvironment& base, const Client& client, const QString& adb) {
    QProcessEnvironment environment = base;
    for (const QString& name : base.keys())
        if (name.startsWith(u"DYLD_"_s)) environment.remove(name);
    environment.insert(u"ADB"_s, adb);
    if (client.server) environment.insert(u"SCRCPY_SERVER_PATH"_s, *client.server);
    if (client.iconDirectory) environment.insert(u"SCRCPY_ICON_DIR"_s, *client.iconDirectory);
    QStringList path{QFileInfo(adb).absolutePath(), u"/usr/bin"_s, u"/bin"_s, u"/usr/sbin"_s, u"/sbin"_s};
    if (client.source == AndroidBridgeComponents::Source::development)
        path.insert(1, QFileInfo(client.program).absolutePath());
    environment.insert(u"PATH"_s, path.join(u':'));
    return environment;
}

} // namespace ExternalClient
