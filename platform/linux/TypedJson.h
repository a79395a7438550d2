#pragma once

#include <QJsonValue>
#include <QVariant>

#include <optional>

// The typed JSON form of a settings value: an object with exactly one member whose name is the
// type and whose value is the payload, so that integers, doubles and bytes survive a round trip.
//
//   {"bool": true}   {"int": 35}   {"double": 5.0}   {"string": "classic"}
//   {"data": "<base64>"}   {"dict": {"k": <typed>, ...}}   {"array": [<typed>, ...]}
namespace TypedJson {

// Whether `value` (recursively) has only storable types.
bool isStorable(const QVariant& value);
// Normalised copy: every integer type becomes qint64. Call only with storable values.
QVariant normalised(const QVariant& value);
QJsonValue encode(const QVariant& value);
// nullopt when `json` is not a well-formed typed value.
std::optional<QVariant> decode(const QJsonValue& json);

} // namespace TypedJson
