#include "core/Models.h"

#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr qint64 referenceEpochMs = 978307200000; // 2001-01-01T00:00:00Z in Unix milliseconds
constexpr double maxReferenceSeconds = 1e13;       // about 300,000 years: anything beyond is not a date
} // namespace

QString rawValue(MobilePlatform platform) {
    return platform == MobilePlatform::android ? u"Android"_s : u"iOS / iPadOS"_s;
}

std::optional<MobilePlatform> mobilePlatform(const QString& raw) {
    if (raw == rawValue(MobilePlatform::android)) return MobilePlatform::android;
    if (raw == rawValue(MobilePlatform::ios)) return MobilePlatform::ios;
    return std::nullopt;
}

QString MobileApp::displayName() const {
    // A separator, an optional "v", digits, then optionally a separator and anything to the end.
    static const QRegularExpression versionSuffix(u"[-_ ]v?\\d+([.\\-_ ].*)?$"_s);
    const QRegularExpressionMatch match = versionSuffix.match(name);
    if (!match.hasMatch()) return name;
    const QString stripped = name.left(match.capturedStart());
    return stripped.isEmpty() ? name : stripped;
}

size_t qHash(const MobileApp& app, size_t seed) {
    return qHashMulti(seed, app.id, app.name, int(app.platform), app.sourcePath, app.bundleIdentifier.has_value(),
                      app.bundleIdentifier.value_or(QString()), app.addedAt, app.isFavorite);
}

namespace LibraryCoding {

double referenceSeconds(const QDateTime& date) { return double(date.toMSecsSinceEpoch() - referenceEpochMs) / 1000.0; }

QDateTime fromReferenceSeconds(double seconds) {
    return QDateTime::fromMSecsSinceEpoch(referenceEpochMs + qRound64(seconds * 1000.0), Qt::UTC);
}

QByteArray encode(const QList<MobileApp>& apps) {
    QJsonArray array;
    for (const MobileApp& app : apps) {
        QJsonObject object{{u"id"_s, app.id.toString(QUuid::WithoutBraces).toUpper()},
                           {u"name"_s, app.name},
                           {u"platform"_s, rawValue(app.platform)},
                           {u"sourcePath"_s, app.sourcePath},
                           {u"addedAt"_s, referenceSeconds(app.addedAt)},
                           {u"isFavorite"_s, app.isFavorite}};
        if (app.bundleIdentifier) object.insert(u"bundleIdentifier"_s, *app.bundleIdentifier);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<MobileApp>> decode(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
    const QJsonArray array = document.array();
    QList<MobileApp> apps;
    apps.reserve(array.size());
    for (const QJsonValue& value : array) {
        if (!value.isObject()) return std::nullopt;
        const QJsonObject object = value.toObject();
        const QJsonValue id = object.value(u"id"_s), name = object.value(u"name"_s),
                         platform = object.value(u"platform"_s), sourcePath = object.value(u"sourcePath"_s),
                         bundle = object.value(u"bundleIdentifier"_s), addedAt = object.value(u"addedAt"_s),
                         favorite = object.value(u"isFavorite"_s);
        if (!id.isString() || !name.isString() || !platform.isString() || !sourcePath.isString() ||
            !addedAt.isDouble() || !favorite.isBool())
            return std::nullopt;
        if (!bundle.isUndefined() && !bundle.isNull() && !bundle.isString()) return std::nullopt;

        MobileApp app;
        app.id = QUuid::fromString(id.toString());
        const bool nilUuid = id.toString() == u"00000000-0000-0000-0000-000000000000"_s;
        const auto parsedPlatform = mobilePlatform(platform.toString());
        const double seconds = addedAt.toDouble();
        if ((app.id.isNull() && !nilUuid) || id.toString().size() != 36 || !parsedPlatform ||
            !(std::abs(seconds) < maxReferenceSeconds))
            return std::nullopt;
        app.name = name.toString();
        app.platform = *parsedPlatform;
        app.sourcePath = sourcePath.toString();
        if (bundle.isString()) app.bundleIdentifier = bundle.toString();
        app.addedAt = fromReferenceSeconds(seconds);
        app.isFavorite = favorite.toBool();
        apps.append(std::move(app));
    }
    return apps;
}

} // namespace LibraryCoding
