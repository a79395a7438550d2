#include "core/Models.h"

#include <QHashFunctions>
#include <QRegularExpression>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

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

// RapidJSON rather than Qt's JSON classes: at 10,000 entries Qt's parser alone takes most of the
// start-up budget of the library.
QByteArray encode(const QList<MobileApp>& apps) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const auto string = [&writer](const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        writer.String(utf8.constData(), rapidjson::SizeType(utf8.size()), true);
    };
    writer.StartArray();
    for (const MobileApp& app : apps) {
        writer.StartObject();
        writer.Key("id");
        string(app.id.toString(QUuid::WithoutBraces).toUpper());
        writer.Key("name");
        string(app.name);
        writer.Key("platform");
        string(rawValue(app.platform));
        writer.Key("sourcePath");
        string(app.sourcePath);
        if (app.bundleIdentifier) {
            writer.Key("bundleIdentifier");
            string(*app.bundleIdentifier);
        }
        writer.Key("addedAt");
        writer.Double(referenceSeconds(app.addedAt));
        writer.Key("isFavorite");
        writer.Bool(app.isFavorite);
        writer.EndObject();
    }
    writer.EndArray();
    return QByteArray(buffer.GetString(), qsizetype(buffer.GetSize()));
}

namespace {

QString text(const rapidjson::Value& string) {
    return QString::fromUtf8(string.GetString(), qsizetype(string.GetStringLength()));
}

// One stored entry; nullopt when a key is missing or of the wrong type. Unknown keys are ignored.
std::optional<MobileApp> decodeEntry(const rapidjson::Value& object) {
    if (!object.IsObject()) return std::nullopt;
    const rapidjson::Value *id = nullptr, *name = nullptr, *platform = nullptr, *sourcePath = nullptr,
                           *bundle = nullptr, *addedAt = nullptr, *favorite = nullptr;
    for (const auto& member : object.GetObject()) {
        const std::string_view key(member.name.GetString(), member.name.GetStringLength());
        if (key == "id") id = &member.value;
        else if (key == "name") name = &member.value;
        else if (key == "platform") platform = &member.value;
        else if (key == "sourcePath") sourcePath = &member.value;
        else if (key == "bundleIdentifier") bundle = &member.value;
        else if (key == "addedAt") addedAt = &member.value;
        else if (key == "isFavorite") favorite = &member.value;
    }
    if (!id || !id->IsString() || !name || !name->IsString() || !platform || !platform->IsString() ||
        !sourcePath || !sourcePath->IsString() || !addedAt || !addedAt->IsNumber() || !favorite ||
        !favorite->IsBool())
        return std::nullopt;
    if (bundle && !bundle->IsNull() && !bundle->IsString()) return std::nullopt;

    const QString idText = text(*id);
    const QUuid uuid = QUuid::fromString(idText);
    const bool nilUuid = idText == u"00000000-0000-0000-0000-000000000000"_s;
    const auto parsedPlatform = mobilePlatform(text(*platform));
    const double seconds = addedAt->GetDouble();
    if ((uuid.isNull() && !nilUuid) || idText.size() != 36 || !parsedPlatform ||
        !(std::abs(seconds) < maxReferenceSeconds))
        return std::nullopt;

    MobileApp app;
    app.id = uuid;
    app.name = text(*name);
    app.platform = *parsedPlatform;
    app.sourcePath = text(*sourcePath);
    if (bundle && bundle->IsString()) app.bundleIdentifier = text(*bundle);
    app.addedAt = fromReferenceSeconds(seconds);
    app.isFavorite = favorite->GetBool();
    return app;
}

} // namespace

std::optional<QList<MobileApp>> decode(const QByteArray& json) {
    // Parsed in place: strings stay in this copy instead of being copied into the document.
    QByteArray buffer(json.constData(), json.size());
    rapidjson::Document document;
    document.ParseInsitu<rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag>(buffer.data());
    if (document.HasParseError() || !document.IsArray()) return std::nullopt;
    QList<MobileApp> apps;
    apps.reserve(document.Size());
    for (const rapidjson::Value& object : document.GetArray()) {
        auto app = decodeEntry(object);
        if (!app) return std::nullopt;
        apps.append(std::move(*app));
    }
    return apps;
}

} // namespace LibraryCoding
