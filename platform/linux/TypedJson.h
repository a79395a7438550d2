#pragma once

#include <QByteArray>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// The settings file: a JSON document of typed values, so that integers, doubles and bytes keep
// their type across restarts.
//
//   { "format": "vantle-settings", "version": 1, "values": { "<key>": <typed>, ... } }
//
// A typed value is an object with exactly one member whose name is the type:
//
//   {"bool": true}   {"int": 35}   {"double": 5.0}   {"string": "classic"}
//   {"utf8": "<bytes that are valid UTF-8, as text>"}   {"data": "<other bytes, base64>"}
//   {"dict": {"k": <typed>, ...}}   {"array": [<typed>, ...]}
//
// Bytes that are UTF-8 text (the stored library is JSON) are kept readable as "utf8".
// RapidJSON reads and writes it: the library of 10,000 entries lives in this file, and Qt's JSON
// classes alone take most of the start-up budget for it.
namespace TypedJson {

// Whether `value` (recursively) has only storable types; NaN and infinities are not storable.
bool isStorable(const QVariant& value);
// Normalised copy: every integer type becomes qint64. Call only with storable values.
QVariant normalised(const QVariant& value);

QByteArray encodeDocument(const QVariantMap& values);
// nullopt when the document or any value in it is malformed.
std::optional<QVariantMap> decodeDocument(const QByteArray& bytes);

} // namespace TypedJson
