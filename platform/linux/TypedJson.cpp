#include "platform/linux/TypedJson.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <cmath>

namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;
using Json = rapidjson::Value;

constexpr char formatName[] = "vantle-settings";
constexpr int formatVersion = 1;

bool isInteger(int typeId) {
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
        return true;
    default:
        return false; // ULongLong may not fit in qint64 and is refused
    }
}

bool isUtf8Text(const QByteArray& bytes) { return QString::fromUtf8(bytes).toUtf8() == bytes; }

void writeKey(Writer& writer, const QString& key) {
    const QByteArray utf8 = key.toUtf8();
    writer.Key(utf8.constData(), rapidjson::SizeType(utf8.size()), true);
}

void writeString(Writer& writer, const QByteArray& utf8) {
    writer.String(utf8.constData(), rapidjson::SizeType(utf8.size()), true);
}

void writeTyped(Writer& writer, const QVariant& value) {
    writer.StartObject();
    const int type = value.typeId();
    if (isInteger(type)) {
        writer.Key("int");
        writer.Int64(value.toLongLong());
    } else if (type == QMetaType::Bool) {
        writer.Key("bool");
        writer.Bool(value.toBool());
    } else if (type == QMetaType::Double) {
        writer.Key("double");
        writer.Double(value.toDouble());
    } else if (type == QMetaType::QString) {
        writer.Key("string");
        writeString(writer, value.toString().toUtf8());
    } else if (type == QMetaType::QByteArray) {
        const QByteArray bytes = value.toByteArray();
        const bool text = isUtf8Text(bytes);
        writer.Key(text ? "utf8" : "data");
        writeString(writer, text ? bytes : bytes.toBase64());
    } else if (type == QMetaType::QVariantMap) {
        writer.Key("dict");
        writer.StartObject();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            writeKey(writer, it.key());
            writeTyped(writer, *it);
        }
        writer.EndObject();
    } else if (type == QMetaType::QVariantList) {
        writer.Key("array");
        writer.StartArray();
        for (const QVariant& item : value.toList()) writeTyped(writer, item);
        writer.EndArray();
    }
    writer.EndObject();
}

QByteArray bytesOf(const Json& string) { return QByteArray(string.GetString(), qsizetype(string.GetStringLength())); }

// Deeper nesting than this is refused, so that a hostile file cannot exhaust the stack.
constexpr int maxDepth = 64;

std::optional<QVariant> readTyped(const Json& json, int depth = 0) {
    if (depth > maxDepth || !json.IsObject() || json.MemberCount() != 1) return std::nullopt;
    const auto& member = *json.MemberBegin();
    const std::string_view tag(member.name.GetString(), member.name.GetStringLength());
    const Json& payload = member.value;

    if (tag == "bool" && payload.IsBool()) return QVariant(payload.GetBool());
    if (tag == "int" && payload.IsInt64()) return QVariant(qint64(payload.GetInt64()));
    if (tag == "double" && payload.IsNumber()) return QVariant(payload.GetDouble());
    if (tag == "string" && payload.IsString()) return QVariant(QString::fromUtf8(bytesOf(payload)));
    if (tag == "utf8" && payload.IsString()) return QVariant(bytesOf(payload));
    if (tag == "data" && payload.IsString()) {
        const auto decoded = QByteArray::fromBase64Encoding(bytesOf(payload), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) return std::nullopt;
        return QVariant(*decoded);
    }
    if (tag == "dict" && payload.IsObject()) {
        QVariantMap map;
        for (const auto& entry : payload.GetObject()) {
            auto value = readTyped(entry.value, depth + 1);
            if (!value) return std::nullopt;
            map.insert(QString::fromUtf8(bytesOf(entry.name)), *value);
        }
        return QVariant(map);
    }
    if (tag == "array" && payload.IsArray()) {
        QVariantList list;
        list.reserve(payload.Size());
        for (const Json& item : payload.GetArray()) {
            auto value = readTyped(item, depth + 1);
            if (!value) return std::nullopt;
            list.append(*value);
        }
        return QVariant(list);
    }
    return std::nullopt;
}

} // namespace

namespace TypedJson {

bool isStorable(const QVariant& value) {
    const int type = value.typeId();
    if (isInteger(type)) return true;
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return true;
    case QMetaType::Double:
        return std::isfinite(value.toDouble());
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        return std::all_of(map.cbegin(), map.cend(), isStorable);
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        return std::all_of(list.cbegin(), list.cend(), isStorable);
    }
    default:
        return false;
    }
}

QVariant normalised(const QVariant& value) {
    const int type = value.typeId();
    if (isInteger(type)) return QVariant(value.toLongLong());
    if (type == QMetaType::QVariantMap) {
        QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) *it = normalised(*it);
        return map;
    }
    if (type == QMetaType::QVariantList) {
        QVariantList list = value.toList();
        for (QVariant& item : list) item = normalised(item);
        return list;
    }
    return value;
}

QByteArray encodeDocument(const QVariantMap& values) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.SetIndent(' ', 2);
    writer.StartObject();
    writer.Key("format");
    writer.String(formatName);
    writer.Key("version");
    writer.Int(formatVersion);
    writer.Key("values");
    writer.StartObject();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        writeKey(writer, it.key());
        writeTyped(writer, *it);
    }
    writer.EndObject();
    writer.EndObject();
    return QByteArray(buffer.GetString(), qsizetype(buffer.GetSize())) + '\n';
}

std::optional<QVariantMap> decodeDocument(const QByteArray& bytes) {
    // Parsed in place: strings stay in this copy instead of being copied into the document.
    QByteArray buffer(bytes.constData(), bytes.size());
    rapidjson::Document document;
    document.ParseInsitu<rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag>(buffer.data());
    if (document.HasParseError() || !document.IsObject()) return std::nullopt;
    const auto format = document.FindMember("format");
    const auto version = document.FindMember("version");
    const auto values = document.FindMember("values");
    if (format == document.MemberEnd() || !format->value.IsString() || bytesOf(format->value) != formatName)
        return std::nullopt;
    if (version == document.MemberEnd() || !version->value.IsInt() || version->value.GetInt() != formatVersion)
        return std::nullopt;
    if (values == document.MemberEnd() || !values->value.IsObject()) return std::nullopt;

    QVariantMap map;
    for (const auto& entry : values->value.GetObject()) {
        auto value = readTyped(entry.value);
        if (!value) return std::nullopt;
        map.insert(QString::fromUtf8(bytesOf(entry.name)), *value);
    }
    return map;
}

} // namespace TypedJson
