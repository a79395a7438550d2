#pragma once

#include <QString>
#include <QVariant>
#include <memory>

// The outcome of one write. `error` is empty when the value reached the disk; otherwise it says
// why not, in the system's words ("/home/u/.config/vantle/settings.json: No space left on device").
struct SettingsWrite {
    QString error;
    explicit operator bool() const { return error.isEmpty(); }
};

// The per-user typed key-value store behind every setting. A value is a bool, an integer (qint64),
// a double, a QString, a QByteArray, a QVariantMap or a QVariantList whose members are again of
// these types; it keeps its type across restarts. Implementations are safe from any thread and
// write atomically: a crash or a full disk leaves the previous values readable.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored value, or an invalid QVariant when the key is absent.
    virtual QVariant value(const QString& key) const = 0;
    // Fails when the value has an unsupported type or could not be written durably; the in-memory
    // value is kept either way, and the next successful write carries it.
    virtual SettingsWrite setValue(const QString& key, const QVariant& value) = 0;
    virtual SettingsWrite remove(const QString& key) = 0;
    // Empty when the store opened cleanly; otherwise what was wrong, in words for the user, and
    // where an unreadable file was kept.
    virtual QString problem() const = 0;
};

// The current user's store (in Locations::config()); what opening it found is its problem().
std::shared_ptr<SettingsStore> openUserSettings();
