#include "core/VantleSettings.h"

#include <QMetaType>
#include <mutex>

namespace {

std::mutex storeMutex;
std::shared_ptr<SettingsStore> installedStore; // guarded by storeMutex

std::shared_ptr<SettingsStore> current() {
    std::lock_guard lock(storeMutex);
    if (!installedStore) installedStore = openUserSettings();
    return installedStore;
}

QVariant valueOfType(const QString& key, QMetaType::Type type) {
    QVariant value = current()->value(key);
    return value.typeId() == type ? value : QVariant();
}

} // namespace

namespace VantleSettings {

void install(std::shared_ptr<SettingsStore> store) {
    std::lock_guard lock(storeMutex);
    installedStore = std::move(store);
}

SettingsStore& store() {
    return *current();
}

std::optional<bool> readBool(const QString& key) {
    const QVariant value = valueOfType(key, QMetaType::Bool);
    return value.isValid() ? std::optional(value.toBool()) : std::nullopt;
}

std::optional<qint64> readInteger(const QString& key) {
    const QVariant value = valueOfType(key, QMetaType::LongLong);
    return value.isValid() ? std::optional(value.toLongLong()) : std::nullopt;
}

std::optional<double> readDouble(const QString& key) {
    const QVariant value = valueOfType(key, QMetaType::Double);
    return value.isValid() ? std::optional(value.toDouble()) : std::nullopt;
}

std::optional<QString> readString(const QString& key) {
    const QVariant value = valueOfType(key, QMetaType::QString);
    return value.isValid() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<QByteArray> readData(const QString& key) {
    const QVariant value = valueOfType(key, QMetaType::QByteArray);
    return value.isValid() ? std::optional(value.toByteArray()) : std::nullopt;
}

std::optional<QVariantMap> readDictionary(const QString& key) {
    const QVariant value = valueOfType(key, QMetaType::QVariantMap);
    return value.isValid() ? std::optional(value.toMap()) : std::nullopt;
}

std::optional<QVariantList> readArray(const QString& key) {
    const QVariant value = valueOfType(key, QMetaType::QVariantList);
    return value.isValid() ? std::optional(value.toList()) : std::nullopt;
}

bool flag(const QString& key, bool fallback) {
    return readBool(key).value_or(fallback);
}

SettingsWrite set(const QString& key, const QVariant& value) {
    return current()->setValue(key, value);
}

SettingsWrite remove(const QString& key) {
    return current()->remove(key);
}

} // namespace VantleSettings
