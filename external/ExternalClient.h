#pragma once

#include "provisioning/AndroidBridgeComponents.h"

#include <QProcessEnvironment>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>

// Which scrcpy client the external-window mode starts, and how. Pure apart from the file checks
// and the `--version` run in `locate`.
namespace ExternalClient {

// The oldest client that knows --new-display and --start-app.
inline constexpr int minimumMajorVersion = 3;

struct Client {
    QString program;
    std::optional<QString> server;        // SCRCPY_SERVER_PATH; none: the client's own default
    std::optional<QString> iconDirectory; // SCRCPY_ICON_DIR
    AndroidBridgeComponents::Source source = AndroidBridgeComponents::Source::bundled;
    QString version;
};

// The bundle's own client when it has one; else an installed one (the development fallback's, or
// the first "scrcpy" on PATH), which must be new enough (its `--version`) and brings its own
// server. Throws AndroidBridgeError.
Client locate(const AndroidBridgeComponents& components);

// "scrcpy 3.1 <https://…>" → 3.1; nothing when the first line says no version.
std::optional<QString> parseVersion(const QString& versionOutput);
bool acceptsVirtualDisplays(const QString& version);

// The client's arguments, in the order the client documents them; `printFPS` adds --print-fps.
QStringList arguments(const QString& serial, const QString& package, const QString& title, QSizeF size,
                      bool printFPS);
// `base` with ADB, SCRCPY_SERVER_PATH, SCRCPY_ICON_DIR and a short PATH (the adb folder first;
// the client's own folder second for a client from PATH), and without DYLD_* variables.
QProcessEnvironment environment(const QProcessEnvironment& base, const Client& client, const QString& adb);

} // namespace ExternalClient
