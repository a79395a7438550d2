#pragma once

#include "platform/SettingsStore.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <memory>
#include <optional>

// Typed access to the user's settings. Reads never fail: a key that is absent or holds a value of
// another type reads as absent, and the keyed reads below then return the key's default. Safe from
// any thread. All keys and defaults live in SettingsKeys.h; no key is spelled anywhere else.
template <typename T> struct SettingKey {
    QLatin1StringView name;
    T fallback;
    QString key() const { return QString(name); }
};

// A family of keys made of a prefix and a variable part ("Vantle.installed." + path).
template <typename T> struct SettingKeyFamily {
    QLatin1StringView prefix;
    QString key(const QString& suffix) const { return QString(prefix) + suffix; }
};

namespace VantleSettings {

// The store every read and write goes to. Installed once at start-up (tests install their own).
void install(std::shared_ptr<SettingsStore> store);
SettingsStore& store();

std::optional<bool> readBool(const QString& key);
std::optional<qint64> readInteger(const QString& key);
std::optional<double> readDouble(const QString& key);
std::optional<QString> readString(const QString& key);
std::optional<QByteArray> readData(const QString& key);
std::optional<QVariantMap> readDictionary(const QString& key);
std::optional<QVariantList> readArray(const QString& key);

// The boolean read with a default: the default when the key is absent or not a boolean.
bool flag(const QString& key, bool fallback);

inline bool get(const SettingKey<bool>& k) {
    return readBool(k.key()).value_or(k.fallback);
}
inline qint64 get(const SettingKey<qint64>& k) {
    return readInteger(k.key()).value_or(k.fallback);
}
inline double get(const SettingKey<double>& k) {
    return readDouble(k.key()).value_or(k.fallback);
}
inline QString get(const SettingKey<QLatin1StringView>& k) {
    return readString(k.key()).value_or(QString(k.fallback));
}
inline QByteArray get(const SettingKey<QByteArray>& k) {
    return readData(k.key()).value_or(QByteArray());
}
inline QVariantList get(const SettingKey<QVariantList>& k) {
    return readArray(k.key()).value_or(QVariantList());
}

// Writes fail when the value could not be stored durably, saying why (the store logs nothing).
SettingsWrite set(const QString& key, const QVariant& value);
template <typename T> SettingsWrite set(const SettingKey<T>& k, const QVariant& value) {
    return set(k.key(), value);
}
SettingsWrite remove(const QString& key);

} // namespace VantleSettings
