#pragma once

#include "updates/UpdateSource.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

// The update check's and install's pure rules: reading the repositories' answers and the device's
// output, ordering candidates, and the texts the user and the log see. No I/O.
namespace UpdateRules {

// The package API's answer ("/api/v1/packages/<package>"), untrusted network input:
//   { "packageName": "org.example", "suggestedVersionCode": 42,
//     "packages": [ { "versionName": "1.4", "versionCode": 42 }, … ] }
// Nothing unless the body is a JSON object with an integer "suggestedVersionCode". The version
// name is that of the first element of "packages" whose integer "versionCode" equals the suggested
// one and that has a string "versionName"; else the code in decimal.
std::optional<AppUpdate> readPackageApi(const QByteArray& body, const QString& package, UpdateSource source);

// The installed version codes in the output of `pm list packages --show-versioncode`, one line
// per package: "package:org.example versionCode:42" (a " uid:…" may follow). Lines of another
// shape, names Android would refuse and codes that do not fit are left out.
QHash<QString, qint64> readPackageList(const QString& output);

// Highest version code first; among equal codes the order given (F-Droid before IzzyOnDroid).
void sortBestFirst(QList<AppUpdate>& candidates);

// "Checking F-Droid and IzzyOnDroid…"
QString checkingMessage(const QList<UpdateSource>& sources);
// "<n> update(s) available", or "All apps are up to date".
QString resultMessage(qsizetype available);
// "updates: checked 2 apps in ["F-Droid", "IzzyOnDroid"], 1 available ["org.a": "1.4 (F-Droid)"]";
// names and versions escaped so that a repository cannot forge log lines.
QString checkLogLine(qsizetype packages, const QList<UpdateSource>& sources,
                     const QMap<QString, AppUpdate>& available);

// Why `adb install -r` refused an update, from its output (standard output and error together).
QString installRefusal(const QString& adbOutput);
// The downloaded file is not the package being updated (or no APK at all).
QString notThePackage(const QString& package);

} // namespace UpdateRules
