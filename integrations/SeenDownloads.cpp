#include "integrations/SeenDownloads.h"

#include "core/SettingsKeys.h"

void SeenDownloads::insert(const QStringList& names) {
    const std::lock_guard lock(m_lock);
    QSet<QString> current = loadLocked().value_or(QSet<QString>());
    for (const QString& name : names)
        current.insert(name);
    QVariantList stored;
    stored.reserve(current.size());
    for (const QString& name : current)
        stored.append(name);
    // A failed write keeps the set cached: this run still knows the names.
    (void)VantleSettings::set(SettingsKeys::downloadsSeen, stored);
    m_names = std::move(current);
}

std::optional<QSet<QString>> SeenDownloads::load() {
    const std::lock_guard lock(m_lock);
    return loadLocked();
}

std::optional<QSet<QString>> SeenDownloads::loadLocked() {
    if (m_names) return m_names;
    const std::optional<QVariantList> stored = VantleSettings::readArray(SettingsKeys::downloadsSeen.key());
    if (!stored) return std::nullopt;
    QSet<QString> names;
    for (const QVariant& name : *stored)
        names.insert(name.toString());
    m_names = std::move(names);
    return m_names;
}
