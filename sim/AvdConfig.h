#pragma once

#include <QMap>
#include <QString>
#include <optional>

// One virtual device as the emulator reads it: <avdHome>/<name>.ini points at the .avd folder,
// whose config.ini holds the hardware settings ("key=value" lines).
struct AvdConfig {
    QString name;
    QString folder;
    int api = 0;
    QMap<QString, QString> values; // config.ini

    QString value(const QString& key, const QString& fallback = {}) const {
        return values.value(key, fallback);
    }
    int intValue(const QString& key, int fallback) const;

    // Reads the AVD `name` below `avdHome`; nothing when its .ini or config.ini is missing.
    static std::optional<AvdConfig> load(const QString& avdHome, const QString& name);
    static QMap<QString, QString> parseIni(const QByteArray& text);
};
