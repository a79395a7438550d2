#include "sim/EmulatorRun.h"

#include "sim/DeviceState.h"
#include "sim/SimLayout.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString runFile(const QString& sdk, int port, const char* extension) {
    return u"%1/emulator-%2.%3"_s.arg(SimLayout::runFolder(sdk)).arg(port).arg(QLatin1StringView(extension));
}

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value >= 0 ? value : fallback;
}

} // namespace

namespace EmulatorRun {

std::optional<RunningEmulator> find(const QString& sdk, int port) {
    const int fd = open(runFile(sdk, port, "lock").toUtf8().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const bool free = flock(fd, LOCK_SH | LOCK_NB) == 0;
    close(fd);
    if (free) return std::nullopt;

    QFile file(runFile(sdk, port, "json"));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    RunningEmulator facts;
    facts.pid = json.value(u"pid"_s).toInteger();
    facts.api = json.value(u"api"_s).toInt();
    facts.avdName = json.value(u"avdName"_s).toString();
    facts.avdFolder = json.value(u"avdFolder"_s).toString();
    facts.dataRoot = json.value(u"dataRoot"_s).toString();
    if (facts.dataRoot.isEmpty()) return std::nullopt;
    const QJsonObject runtime =
        QJsonDocument::fromJson(DeviceState(facts.dataRoot).readFile("runtime.json")).object();
    facts.booted = runtime.value(u"bootCompleted"_s).toBool();
    facts.networkValidated = runtime.value(u"networkValidated"_s).toBool();
    return facts;
}

int claim(const QString& sdk, int port) {
    QDir().mkpath(SimLayout::runFolder(sdk));
    const int fd = open(runFile(sdk, port, "lock").toUtf8().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool publish(const QString& sdk, int port, const RunningEmulator& facts) {
    const QJsonObject json{{u"pid"_s, facts.pid},           {u"api"_s, facts.api},
                           {u"avdName"_s, facts.avdName},   {u"avdFolder"_s, facts.avdFolder},
                           {u"dataRoot"_s, facts.dataRoot}, {u"port"_s, port}};
    QSaveFile file(runFile(sdk, port, "json"));
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(QJsonDocument(json).toJson());
    return file.commit();
}

void withdraw(const QString& sdk, int port) {
    QFile::remove(runFile(sdk, port, "json"));
}

} // namespace EmulatorRun

SimConfig SimConfig::load(const QString& sdk) {
    SimConfig config;
    QFile file(SimLayout::simFolder(sdk) + u"/config.json"_s);
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        config.bootDelayMs = json.value(u"bootDelayMs"_s).toInt(config.bootDelayMs);
        config.networkDelayMs = json.value(u"networkDelayMs"_s).toInt(config.networkDelayMs);
    }
    config.bootDelayMs = envInt("VANTLE_SIM_BOOT_MS", config.bootDelayMs);
    config.networkDelayMs = envInt("VANTLE_SIM_NETWORK_MS", config.networkDelayMs);
    return config;
}

bool SimConfig::save(const QString& sdk) const {
    QDir().mkpath(SimLayout::simFolder(sdk));
    QSaveFile file(SimLayout::simFolder(sdk) + u"/config.json"_s);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(
        QJsonDocument(QJsonObject{{u"bootDelayMs"_s, bootDelayMs}, {u"networkDelayMs"_s, networkDelayMs}})
            .toJson());
    return file.commit();
}
