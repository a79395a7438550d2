#pragma once

#include "platform/SettingsStore.h"

#include <QVariantMap>
#include <mutex>

// The Linux settings store: one JSON file of typed values (its format is in TypedJson.h).
// The whole file is rewritten on every change through a temporary file that is flushed to disk and
// then renamed over the old one, so the file on disk is always either the old or the new version.
// A file that cannot be parsed is renamed aside (never deleted) and the store starts empty; a file
// that cannot even be renamed aside makes the store read-only, so nothing overwrites it.
class SettingsFile final : public SettingsStore {
public:
    explicit SettingsFile(QString path);

    QVariant value(const QString& key) const override;
    SettingsWrite setValue(const QString& key, const QVariant& value) override;
    SettingsWrite remove(const QString& key) override;
    // Empty when the file opened cleanly (or did not exist yet).
    QString problem() const override;

private:
    void load();
    SettingsWrite writeLocked();

    const QString m_path;
    mutable std::mutex m_mutex; // guards every member below
    QVariantMap m_values;
    QString m_problem;
    bool m_readOnly = false;
    bool m_unsaved = false; // memory holds values the file does not (a write failed)
};
