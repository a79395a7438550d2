#include "provisioning/RuntimeComponentLocator.h"

#include "provisioning/FileChecks.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

using namespace Qt::Literals::StringLiterals;

QString AndroidBridgeComponents::sourceName(Source source) {
    switch (source) {
    case Source::bundled:
        return u"Bundled in Vantle"_s;
    case Source::development:
        return u"Installed scrcpy (development fallback)"_s;
    }
    return {};
}

AndroidBridgeError::AndroidBridgeError(Kind kind, QString payload)
    : m_kind(kind)
    , m_payload(std::move(payload)) {
    m_what = description().toUtf8();
}

QString AndroidBridgeError::description() const {
    switch (m_kind) {
    case Kind::missing:
        return u"Vantle's Android bridge is incomplete ("_s + m_payload +
               u" is missing). Reinstall Vantle."_s;
    case Kind::corrupted:
        return u"Vantle's Android bridge failed its integrity check ("_s + m_payload +
               u"). Reinstall Vantle."_s;
    case Kind::manifestUnreadable:
        return u"Vantle's Android bridge manifest could not be read: "_s + m_payload;
    }
    return {};
}

namespace RuntimeComponentLocator {

namespace {
std::optional<AndroidBridgeComponents> cache;
QStringList candidates{u"/usr/local/bin/scrcpy"_s, u"/usr/bin/scrcpy"_s};

QString resources() {
    return contentsFolder() + u"/Resources/AndroidBridge"_s;
}
QString helpers() {
    return contentsFolder() + u"/Helpers/AndroidBridge"_s;
}

QString sha256Hex(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return {};
    return QString::fromLatin1(hash.result().toHex());
}
} // namespace

QString contentsFolder() {
    const QString configured = qEnvironmentVariable("VANTLE_BUNDLE");
    if (!configured.isEmpty()) return configured;
    return contentsFolderFor(QCoreApplication::applicationDirPath());
}

QString contentsFolderFor(const QString& executableFolder) {
    const QString installed = QDir::cleanPath(executableFolder + u"/../share/vantle"_s);
    if (QFileInfo(installed).isDir()) return installed;
    return QDir::cleanPath(executableFolder + u"/../bridge"_s);
}

bool hasBundledBridge() {
    return QFileInfo::exists(resources() + u"/runtime-manifest.json"_s) || QFileInfo(helpers()).isDir();
}

AndroidBridgeComponents verifiedBundledBridge() {
    QFile manifestFile(resources() + u"/runtime-manifest.json"_s);
    if (!manifestFile.open(QIODevice::ReadOnly))
        throw AndroidBridgeError::missing(u"runtime-manifest.json"_s);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(manifestFile.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw AndroidBridgeError::manifestUnreadable(parseError.errorString());
    const QJsonObject manifest = document.object();
    if (!document.isObject() || !manifest.value(u"components"_s).isArray())
        throw AndroidBridgeError::manifestUnreadable(u"no \"components\" array"_s);
    const QJsonValue version = manifest.value(u"bridgeVersion"_s);
    if (!version.isUndefined() && !version.isString())
        throw AndroidBridgeError::manifestUnreadable(u"\"bridgeVersion\" is not a string"_s);

    for (const QJsonValue& value : manifest.value(u"components"_s).toArray()) {
        const QJsonObject component = value.toObject();
        if (!component.value(u"path"_s).isString() || !component.value(u"sha256"_s).isString())
            throw AndroidBridgeError::manifestUnreadable(u"a component lacks \"path\" or \"sha256\""_s);
        const QString path = component.value(u"path"_s).toString();
        const QString digest = sha256Hex(contentsFolder() + u'/' + path);
        if (digest.isEmpty()) throw AndroidBridgeError::missing(path);
        if (digest != component.value(u"sha256"_s).toString().toLower())
            throw AndroidBridgeError::corrupted(path);
    }

    AndroidBridgeComponents components;
    const QString client = helpers() + u"/bin/scrcpy"_s;
    if (isExecutableFile(client)) components.scrcpy = client;
    components.server = resources() + u"/server/scrcpy-server"_s;
    if (!QFileInfo::exists(components.server)) throw AndroidBridgeError::missing(u"server/scrcpy-server"_s);
    if (QFileInfo(resources() + u"/icons"_s).isDir()) components.iconDirectory = resources() + u"/icons"_s;
    components.source = AndroidBridgeComponents::Source::bundled;
    if (version.isString()) components.version = version.toString();
    return components;
}

AndroidBridgeComponents androidBridge() {
    if (cache) return *cache;
    if (hasBundledBridge()) {
        cache = verifiedBundledBridge();
        return *cache;
    }
    const QString client = developmentScrcpy();
    if (!isExecutableFile(client)) throw AndroidBridgeError::missing(u"scrcpy"_s);
    // <prefix>/bin/scrcpy → <prefix>/share/scrcpy/scrcpy-server, as the package installs it.
    QDir prefix(QFileInfo(client).canonicalFilePath());
    prefix.cdUp();
    prefix.cdUp();
    AndroidBridgeComponents components;
    components.scrcpy = client;
    components.server = prefix.absolutePath() + u"/share/scrcpy/scrcpy-server"_s;
    components.iconDirectory = prefix.absolutePath() + u"/share/icons/hicolor/256x256/apps"_s;
    components.source = AndroidBridgeComponents::Source::development;
    components.version = prefix.dirName();
    return components;
}

QStringList developmentScrcpyCandidates() {
    return candidates;
}
void setDevelopmentScrcpyCandidates(const QStringList& paths) {
    candidates = paths;
}

QString developmentScrcpy() {
    for (const QString& candidate : candidates)
        if (isExecutableFile(candidate)) return candidate;
    return candidates.value(0);
}

void clearCache() {
    cache.reset();
}

} // namespace RuntimeComponentLocator
