#include "updates/UpdateSource.h"

#include "core/SettingsKeys.h"

#include <QHostAddress>

using namespace Qt::Literals::StringLiterals;

namespace UpdateSources {

const QList<UpdateSource>& all() {
    static const QList<UpdateSource> sources{UpdateSource::fdroid, UpdateSource::izzy};
    return sources;
}

QString rawValue(UpdateSource source) {
    return source == UpdateSource::fdroid ? u"fdroid"_s : u"izzy"_s;
}

QString displayName(UpdateSource source) {
    return source == UpdateSource::fdroid ? u"F-Droid"_s : u"IzzyOnDroid"_s;
}

const SettingKey<bool>& setting(UpdateSource source) {
    return source == UpdateSource::fdroid ? SettingsKeys::updatesFDroid : SettingsKeys::updatesIzzy;
}

QString base(UpdateSource source) {
    const char* variable = source == UpdateSource::fdroid ? "VANTLE_FDROID_URL" : "VANTLE_IZZYONDROID_URL";
    QString chosen = qEnvironmentVariable(variable);
    if (chosen.isEmpty())
        chosen =
            source == UpdateSource::fdroid ? u"https://f-droid.org"_s : u"https://apt.izzysoft.de/fdroid"_s;
    while (chosen.endsWith(u'/'))
        chosen.chop(1);
    return chosen;
}

QUrl apiURL(UpdateSource source, const QString& package) {
    return QUrl(base(source) + u"/api/v1/packages/"_s + package, QUrl::StrictMode);
}

QUrl apkURL(UpdateSource source, const QString& package, qint64 versionCode) {
    return QUrl(base(source) + u"/repo/"_s + package + u'_' + QString::number(versionCode) + u".apk"_s,
                QUrl::StrictMode);
}

bool isAllowedAddress(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == u"https"_s) return true;
    if (url.scheme() != u"http"_s) return false;
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

bool isAllowedRedirect(const QUrl& from, const QUrl& to) {
    return isAllowedAddress(to) && !(from.scheme() == u"https"_s && to.scheme() != u"https"_s);
}

} // namespace UpdateSources
