#include "platform/Locations.h"

#include <QDir>
#include <QStandardPaths>

// Linux: the XDG base directories and the user folders of xdg-user-dirs. Under VANTLE_HOME the
// XDG defaults are laid out relative to that folder and the XDG variables are ignored.
namespace {

QString vantleHome() { return qEnvironmentVariable("VANTLE_HOME"); }

QString join(const QString& base, const QString& rest) { return QDir::cleanPath(base + u'/' + rest); }

// An XDG base directory: $VARIABLE when it is an absolute path, else home + fallback.
QString xdgBase(const char* variable, const QString& fallback) {
    if (vantleHome().isEmpty()) {
        const QString value = qEnvironmentVariable(variable);
        if (QDir::isAbsolutePath(value)) return value;
    }
    return join(Locations::home(), fallback);
}

QString userFolder(QStandardPaths::StandardLocation location, const QString& fallback) {
    if (vantleHome().isEmpty()) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && path != QDir::homePath()) return path;
    }
    return join(Locations::home(), fallback);
}

} // namespace

namespace Locations {

QString home() {
    const QString override = vantleHome();
    return override.isEmpty() ? QDir::homePath() : QDir::cleanPath(QDir(override).absolutePath());
}

QString applicationSupport() { return join(xdgBase("XDG_DATA_HOME", QStringLiteral(".local/share")), QStringLiteral("Vantle")); }
QString runtime() { return join(applicationSupport(), QStringLiteral("Runtime")); }
QString packages() { return join(applicationSupport(), QStringLiteral("Packages")); }
QString icons() { return join(applicationSupport(), QStringLiteral("Icons")); }
QString state() { return join(xdgBase("XDG_STATE_HOME", QStringLiteral(".local/state")), QStringLiteral("Vantle")); }
QString logs() { return join(state(), QStringLiteral("logs")); }
QString cache() { return join(xdgBase("XDG_CACHE_HOME", QStringLiteral(".cache")), QStringLiteral("Vantle")); }
QString config() { return join(xdgBase("XDG_CONFIG_HOME", QStringLiteral(".config")), QStringLiteral("Vantle")); }
QString pictures() { return join(userFolder(QStandardPaths::PicturesLocation, QStringLiteral("Pictures")), QStringLiteral("Vantle")); }
QString movies() { return join(userFolder(QStandardPaths::MoviesLocation, QStringLiteral("Videos")), QStringLiteral("Vantle")); }
QString downloads() { return join(userFolder(QStandardPaths::DownloadLocation, QStringLiteral("Downloads")), QStringLiteral("Vantle")); }
QString backups() { return join(userFolder(QStandardPaths::DocumentsLocation, QStringLiteral("Documents")), QStringLiteral("Vantle Backups")); }

QString runState() {
    // The folder is created with mode 0700 by whoever writes first; the runtime folder is per user.
    QString base;
    if (vantleHome().isEmpty()) base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty()) base = join(home(), QStringLiteral(".run"));
    return join(base, QStringLiteral("vantle"));
}

QString autostartEntry() {
    return join(xdgBase("XDG_CONFIG_HOME", QStringLiteral(".config")),
                QStringLiteral("autostart/app.vantle.Vantle.desktop"));
}

QString commandSocket() {
    return join(runState(), QStringLiteral("app.vantle.command"));
}
QString instanceLock() {
    return join(runState(), QStringLiteral("vantle.lock"));
}
QString serverLedger() {
    return join(runState(), QStringLiteral("display-servers"));
}

} // namespace Locations
