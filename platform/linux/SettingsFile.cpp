#include "platform/linux/SettingsFile.h"

#include "platform/Locations.h"
#include "platform/linux/TypedJson.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <unistd.h>

namespace {

const QString kFormat = QStringLiteral("vantle-settings");
constexpr int kVersion = 1;

std::optional<QVariantMap> parse(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != kFormat) return std::nullopt;
    if (root.value(QStringLiteral("version")).toInt() != kVersion) return std::nullopt;
    const QJsonValue values = root.value(QStringLiteral("values"));
    if (!values.isObject()) return std::nullopt;
    QVariantMap map;
    const QJsonObject members = values.toObject();
    for (auto it = members.begin(); it != members.end(); ++it) {
        auto value = TypedJson::decode(it.value());
        if (!value) return std::nullopt;
        map.insert(it.key(), *value);
    }
    return map;
}

// A free name beside `path` for keeping an unreadable file.
QString asideName(const QString& path) {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = path + QStringLiteral(".unreadable-") + stamp + u'-' + QString::number(n);
    return candidate;
}

} // namespace

SettingsFile::SettingsFile(QString path)
    : m_path(std::move(path)) {
    load();
}

void SettingsFile::load() {
    QFile file(m_path);
    if (!file.exists()) return;
    if (file.open(QIODevice::ReadOnly)) {
        if (auto values = parse(file.readAll())) {
            m_values = std::move(*values);
            return;
        }
        file.close();
    }
    const QString aside = asideName(m_path);
    if (QFile::rename(m_path, aside)) {
        m_problem = QStringLiteral("unreadable settings file kept as ") + aside;
    } else {
        m_readOnly = true;
        m_problem = QStringLiteral("unreadable settings file ") + m_path +
                    QStringLiteral(" could not be kept aside; settings will not be saved");
    }
}

QVariant SettingsFile::value(const QString& key) const {
    std::lock_guard lock(m_mutex);
    return m_values.value(key);
}

bool SettingsFile::setValue(const QString& key, const QVariant& value) {
    if (!TypedJson::isStorable(value)) return false;
    std::lock_guard lock(m_mutex);
    m_values.insert(key, TypedJson::normalised(value));
    return writeLocked();
}

bool SettingsFile::remove(const QString& key) {
    std::lock_guard lock(m_mutex);
    if (m_values.remove(key) == 0) return true;
    return writeLocked();
}

QString SettingsFile::problem() const {
    std::lock_guard lock(m_mutex);
    return m_problem;
}

bool SettingsFile::writeLocked() const {
    if (m_readOnly) return false;
    QJsonObject values;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) values.insert(it.key(), TypedJson::encode(*it));
    const QJsonObject root{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("version"), kVersion},
                           {QStringLiteral("values"), values}};
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);

    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) return false;
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    // Data must reach the disk before the rename makes it the settings file.
    if (::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

SettingsOpening openUserSettings() {
    auto file = std::make_shared<SettingsFile>(Locations::config() + QStringLiteral("/settings.json"));
    return {file, file->problem()};
}
