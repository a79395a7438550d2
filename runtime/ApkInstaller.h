#pragma once

#include <QCoro/QCoroTask>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

// Installing a library entry's APK into Vantle's Android (only when the file changed since the
// last install) and finding apps that were installed inside Android by other means.
namespace AndroidRuntimeCLI {

// Boots Android if needed, installs the APK unless this very file is installed already, checks
// that the app can be launched, and returns its package. Main thread. Throws AndroidRuntimeError.
QCoro::Task<QString> installAndLaunch(QString apkPath);

// The APK's package: from its manifest, else from apkanalyzer. Throws; a name Android would refuse
// throws invalidPackageName.
QString packageIdentifier(const QString& apkPath);
// Packages of the user-installed apps. Throws.
QSet<QString> thirdPartyPackages();

// The package that the installed record of this APK path names, if any.
std::optional<QString> knownPackage(const QString& apkPath);
// Records that this file (as it is now) installed `package`.
void rememberInstalled(const QString& apkPath, const QString& package);
// "<size>-<modification time in seconds since 1970>", the time as the shortest text that reads back
// to the same double ("1733480000.5", "1733480000.0"); "-1-<year 1>" when the file can't be read.
QString fingerprint(const QString& apkPath);

struct DiscoveredApp {
    QString package;
    QString name;
    QString apk; // the copy in packagesDirectory()
};
struct Discovery {
    QSet<QString> installed;   // every user-installed package, known ones included
    QList<DiscoveredApp> apps; // launchable apps not in `known`, in package order
};
// Copies out the APKs of launchable apps installed inside Android. Blocking and slow; nothing when
// Android is not booted or its package list cannot be read. Never throws.
std::optional<Discovery> discoverInstalledApps(const QSet<QString>& known);

// A readable name made from a package name: org.example.notes gives "Notes".
QString displayName(const QString& package);

// Android's rule for application package names: two or more dot-separated parts, each a letter
// followed by letters, digits or underscores. Only such names are ever put into device commands.
bool isValidPackageName(const QString& name);

// What a failed `adb install` says to the user: the package manager's answer ("Failure [...]") or
// adb's own error line, without the transcript before it ("Performing Push Install", the transfer
// summary, "\tpkg: ..."); the whole output when it has neither.
QString installFailureText(const QString& output);

} // namespace AndroidRuntimeCLI
