#include "platform/linux/TypedJson.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

const QString kBool = QStringLiteral("bool");
const QString kInt = QStringLiteral("int");
const QString kDouble = QStringLiteral("double");
const QString kString = QStringLiteral("string");
const QString kData = QStringLiteral("data");
const QString kDict = QStringLiteral("dict");
const QString kArray = QStringLiteral("array");

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

} // namespace

namespace TypedJson {

bool isStorable(const QVariant& value) {
    const int type = value.typeId();
    if (isInteger(type)) return true;
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Double:
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return true;
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

QJsonValue encode(const QVariant& value) {
    const int type = value.typeId();
    if (isInteger(type)) return QJsonObject{{kInt, value.toLongLong()}};
    switch (type) {
    case QMetaType::Bool:
        return QJsonObject{{kBool, value.toBool()}};
    case QMetaType::Double:
        return QJsonObject{{kDouble, value.toDouble()}};
    case QMetaType::QString:
        return QJsonObject{{kString, value.toString()}};
    case QMetaType::QByteArray:
        return QJsonObject{{kData, QString::fromLatin1(value.toByteArray().toBase64())}};
    case QMetaType::QVariantMap: {
        QJsonObject members;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) members.insert(it.key(), encode(*it));
        return QJsonObject{{kDict, members}};
    }
    case QMetaType::QVariantList: {
        QJsonArray items;
        for (const QVariant& item : value.toList()) items.append(encode(item));
        return QJsonObject{{kArray, items}};
    }
    default:
        return QJsonValue(QJsonValue::Null);
    }
}

std::optional<QVariant> decode(const QJsonValue& json) {
    if (!json.isObject()) return std::nullopt;
    const QJsonObject object = json.toObject();
    if (object.size() != 1) return std::nullopt;
    const QString tag = object.begin().key();
    const QJsonValue payload = object.begin().value();

    if (tag == kBool && payload.isBool()) return QVariant(payload.toBool());
    if (tag == kInt && payload.isDouble()) {
        const double number = payload.toDouble();
        if (number != std::floor(number)) return std::nullopt;
        return QVariant(payload.toInteger());
    }
    if (tag == kDouble && payload.isDouble()) return QVariant(payload.toDouble());
    if (tag == kString && payload.isString()) return QVariant(payload.toString());
    if (tag == kData && payload.isString()) {
        const auto bytes = QByteArray::fromBase64Encoding(payload.toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        if (!bytes) return std::nullopt;
        return QVariant(*bytes);
    }
    if (tag == kDict && payload.isObject()) {
        QVariantMap map;
        const QJsonObject members = payload.toObject();
        for (auto it = members.begin(); it != members.end(); ++it) {
            auto member = decode(it.value());
            if (!member) return std::nullopt;
            map.insert(it.key(), *member);
        }
        return QVariant(map);
    }
    if (tag == kArray && payload.isArray()) {
        QVariantList list;
        for (const QJsonValue& item : payload.toArray()) {
            auto decoded = decode(item);
            if (!decoded) return std::nullopt;
            list.append(*decoded);
        }
        return QVariant(list);
    }
    return std::nullopt;
}

} // namespace TypedJson
