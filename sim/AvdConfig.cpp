#include "sim/AvdConfig.h"

#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<QByteArray> readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

} // namespace

int AvdConfig::intValue(const QString& key, int fallback) const {
    bool ok = false;
    const int number = values.value(key).toInt(&ok);
    return ok ? number : fallback;
}

QMap<QString, QString> AvdConfig::parseIni(const QByteArray& text) {
    QMap<QString, QString> values;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const qsizetype equals = line.indexOf(u'=');
        if (line.startsWith(u'#') || equals <= 0) continue;
        values.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return values;
}

std::optional<AvdConfig> AvdConfig::load(const QString& avdHome, const QString& name) {
    const std::optional<QByteArray> pointer = readText(avdHome + u'/' + name + u".ini"_s);
    if (!pointer) return std::nullopt;
    const QMap<QString, QString> ini = parseIni(*pointer);
    AvdConfig config;
    config.name = name;
    config.folder = ini.value(u"path"_s);
    if (config.folder.isEmpty()) config.folder = avdHome + u'/' + name + u".avd"_s;
    const QString target = ini.value(u"target"_s);
    if (target.startsWith(u"android-"_s)) config.api = target.mid(8).toInt();
    const std::optional<QByteArray> hardware = readText(config.folder + u"/config.ini"_s);
    if (!hardware) return std::nullopt;
    config.values = parseIni(*hardware);
    return config;
}
