#pragma once

#include "core/VantleSettings.h"

#include <QList>
#include <QString>
#include <QUrl>

// The two F-Droid-format repositories Vantle asks for newer versions, in the order they are asked
// (and preferred among equal version codes).
enum class UpdateSource { fdroid, izzy };

// One newer version a repository offers for a package.
struct AppUpdate {
    QString package;
    qint64 versionCode = 0; // the repository's suggested version code
    QString versionName;    // the matching version name, or the code in decimal
    UpdateSource source = UpdateSource::fdroid;
    bool operator==(const AppUpdate&) const = default;
};

namespace UpdateSources {

const QList<UpdateSource>& all();
QString rawValue(UpdateSource source);    // "fdroid", "izzy"
QString displayName(UpdateSource source); // "F-Droid", "IzzyOnDroid"
// Whether the user's settings ask this repository.
const SettingKey<bool>& setting(UpdateSource source);

// F-Droid's site or IzzyOnDroid's repository (always HTTPS), or what VANTLE_FDROID_URL /
// VANTLE_IZZYONDROID_URL name (mirrors and tests). No trailing slash.
QString base(UpdateSource source);
// base + "/api/v1/packages/" + package; base + "/repo/" + package + "_" + code + ".apk".
QUrl apiURL(UpdateSource source, const QString& package);
QUrl apkURL(UpdateSource source, const QString& package, qint64 versionCode);

// Whether Vantle fetches from this address at all: HTTPS, or plain HTTP to this computer's own
// loopback interface (only a mirror or test named in the variables above can point there).
bool isAllowedAddress(const QUrl& url);
// Whether a redirect from `from` to `to` may be followed: the target is allowed and the step is not
// from HTTPS down to plain HTTP.
bool isAllowedRedirect(const QUrl& from, const QUrl& to);

} // namespace UpdateSources
