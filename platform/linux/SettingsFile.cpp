#include "platform/linux/SettingsFile.h"

#include "platform/Locations.h"
#include "platform/linux/TypedJson.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <unistd.h>

namespace {

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
        if (auto values = TypedJson::decodeDocument(file.readAll())) {
            m_values = std::move(*values);
            return;
        }
        file.close();
    }
    const QString aside = asideName(m_path);
    if (QFile::rename(m_path, aside)) {
        m_problem =
            QStringLiteral("The settings file could not be read, so Vantle started afresh; it was kept as ") +
            aside;
    } else {
        m_readOnly = true;
        m_problem = QStringLiteral("The settings file ") + m_path +
                    QStringLiteral(" could not be read nor kept aside; nothing will be saved");
    }
}

namespace {
// Equal in type as well as value, all the way down: QVariant's own == converts ("false" equals
// false), which would let a changed type go unsaved.
bool identical(const QVariant& a, const QVariant& b) {
    if (a.typeId() != b.typeId()) return false;
    if (a.typeId() == QMetaType::QVariantMap) {
        const QVariantMap left = a.toMap(), right = b.toMap();
        if (left.size() != right.size()) return false;
        for (auto it = left.cbegin(), other = right.cbegin(); it != left.cend(); ++it, ++other)
            if (it.key() != other.key() || !identical(it.value(), other.value())) return false;
        return true;
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList left = a.toList(), right = b.toList();
        return std::equal(left.cbegin(), left.cend(), right.cbegin(), right.cend(), identical);
    }
    return a == b;
}
} // namespace

QVariant SettingsFile::value(const QString& key) const {
    std::lock_guard lock(m_mutex);
    return m_values.value(key);
}

SettingsWrite SettingsFile::setValue(const QString& key, const QVariant& value) {
    if (!TypedJson::isStorable(value))
        return {
            QStringLiteral("a value of type %1 cannot be stored").arg(QString::fromLatin1(value.typeName()))};
    QVariant stored = TypedJson::normalised(value);
    std::lock_guard lock(m_mutex);
    // Storing what is already on disk writes nothing (start-up saves the library it just loaded).
    if (!m_unsaved && m_values.contains(key) && identical(m_values.value(key), stored)) return {};
    m_values.insert(key, std::move(stored));
    return writeLocked();
}

SettingsWrite SettingsFile::remove(const QString& key) {
    std::lock_guard lock(m_mutex);
    if (m_values.remove(key) == 0) return {};
    return writeLocked();
}

QString SettingsFile::problem() const {
    std::lock_guard lock(m_mutex);
    return m_problem;
}

SettingsWrite SettingsFile::writeLocked() {
    m_unsaved = true;
    if (m_readOnly) return {m_problem};
    const QByteArray bytes = TypedJson::encodeDocument(m_values);
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) return {folder + QStringLiteral(": the folder cannot be created")};
    QSaveFile file(m_path);
    // Qt's texts name the file only sometimes ("Existing file … is not writable", "Not a directory").
    const auto failure = [this](const QString& why) {
        return SettingsWrite{why.contains(m_path) ? why : m_path + QStringLiteral(": ") + why};
    };
    // Unbuffered, so that errno still holds the failed write's reason: Qt's own text for a
    // failed write can be "Unknown error".
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return failure(file.errorString());
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const int error = errno;
        const QString why = error != 0 ? qt_error_string(error) : file.errorString();
        file.cancelWriting();
        return failure(why);
    }
    // Data must reach the disk before the rename makes it the settings file.
    if (::fsync(file.handle()) != 0) {
        const QString why = qt_error_string(errno);
        file.cancelWriting();
        return failure(why);
    }
    if (!file.commit()) return failure(file.errorString());
    m_unsaved = false;
    return {};
}

std::shared_ptr<SettingsStore> openUserSettings() {
    return std::make_shared<SettingsFile>(Locations::config() + QStringLiteral("/settings.json"));
}
