#include "core/Models.h"

#include <QHashFunctions>
#include <QRegularExpression>
#include <cmath>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr qint64 referenceEpochMs = 978307200000; // 2001-01-01T00:00:00Z in Unix milliseconds
constexpr double maxReferenceSeconds = 1e13;      // about 300,000 years: anything beyond is not a date
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
    return qHashMulti(seed, app.id, app.name, int(app.platform), app.sourcePath,
                      app.bundleIdentifier.has_value(), app.bundleIdentifier.value_or(QString()), app.addedAt,
                      app.isFavorite);
}

namespace LibraryCoding {

double referenceSeconds(const QDateTime& date) {
    return double(date.toMSecsSinceEpoch() - referenceEpochMs) / 1000.0;
}

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
        if (key == "id")
            id = &member.value;
        else if (key == "name")
            name = &member.value;
        else if (key == "platform")
            platform = &member.value;
        else if (key == "sourcePath")
            sourcePath = &member.value;
        else if (key == "bundleIdentifier")
            bundle = &member.value;
        else if (key == "addedAt")
            addedAt = &member.value;
        else if (key == "isFavorite")
            favorite = &member.value;
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

// The text of each member of a JSON array that parsed, in order, exactly as stored. A scan with
// no recursion: an entry may nest as deeply as the parser allows, and writing such a value back
// out would recurse once per level.
QList<QByteArray> memberTexts(const QByteArray& json) {
    QList<QByteArray> members;
    int depth = 0;
    bool inString = false, escaped = false;
    qsizetype start = -1;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') inString = true;
        if (depth == 1 && start < 0 && c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != ',' &&
            c != ']')
            start = i;
        if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (--depth == 0 && start >= 0) members.append(json.mid(start, i - start).trimmed());
        } else if (c == ',' && depth == 1) {
            members.append(json.mid(start, i - start).trimmed());
            start = -1;
        }
    }
    return members;
}

} // namespace

Decoded decode(const QByteArray& json) {
    // Parsed in place: strings stay in this copy instead of being copied into the document.
    QByteArray buffer(json.constData(), json.size());
    rapidjson::Document document;
    document.ParseInsitu<rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag>(buffer.data());
    Decoded decoded;
    if (document.HasParseError() || !document.IsArray()) return decoded;
    decoded.isArray = true;
    decoded.apps.reserve(document.Size());
    QList<qsizetype> unreadable;
    for (rapidjson::SizeType index = 0; index < document.Size(); ++index) {
        if (auto app = decodeEntry(document[index]))
            decoded.apps.append(std::move(*app));
        else
            unreadable.append(qsizetype(index));
    }
    if (unreadable.isEmpty()) return decoded;
    const QList<QByteArray> texts = memberTexts(json);
    for (qsizetype index : unreadable)
        decoded.unreadable.append(texts.value(index));
    return decoded;
}

} // namespace LibraryCoding
