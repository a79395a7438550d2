#include "sim/SimControl.h"

#include "sim/DeviceState.h"
#include "sim/SimLayout.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString noDevice = u"The simulated device does not exist yet: install it and start its emulator once"_s;

QJsonArray without(const QJsonArray& list, const std::function<bool(const QJsonObject&)>& drop) {
    QJsonArray kept;
    for (const QJsonValue& value : list)
        if (!drop(value.toObject())) kept.append(value);
    return kept;
}

} // namespace

SimControl::SimControl(const QString& runtimeRoot, int api)
    : m_data(SimLayout::deviceData(
          SimLayout::avdFolder(SimLayout::avdHome(runtimeRoot), SimLayout::avdName(api)))) {}

bool SimControl::exists() const {
    return QFileInfo(m_data + u"/system/sim"_s).isDir();
}

QString SimControl::postNotification(const QString& package, int id, const QString& title,
                                     const QString& text, int flags, bool media) {
    if (!exists()) return noDevice;
    DeviceState state(m_data);
    state.update([&](QJsonObject& s) {
        QJsonArray list = without(s.value(u"notifications"_s).toArray(), [&](const QJsonObject& n) {
            return n.value(u"package"_s).toString() == package && n.value(u"id"_s).toInt() == id;
        });
        list.append(QJsonObject{{u"package"_s, package},
                                {u"id"_s, id},
                                {u"title"_s, title},
                                {u"text"_s, text},
                                {u"flags"_s, flags},
                                {u"media"_s, media},
                                {u"postedAt"_s, QDateTime::currentMSecsSinceEpoch()}});
        s.insert(u"notifications"_s, list);
        return true;
    });
    return {};
}

QString SimControl::cancelNotification(const QString& package, int id) {
    if (!exists()) return noDevice;
    bool found = false;
    DeviceState(m_data).update([&](QJsonObject& s) {
        const QJsonArray before = s.value(u"notifications"_s).toArray();
        const QJsonArray after = without(before, [&](const QJsonObject& n) {
            return n.value(u"package"_s).toString() == package && n.value(u"id"_s).toInt() == id;
        });
        found = after.size() != before.size();
        s.insert(u"notifications"_s, after);
        return found;
    });
    return found ? QString() : u"No notification %1 of %2"_s.arg(id).arg(package);
}

QString SimControl::setMediaSession(const QString& package, const QString& state, const QString& title,
                                    const QString& artist, const QString& album) {
    if (!exists()) return noDevice;
    const int playback = state == u"playing"_s   ? 3
                         : state == u"paused"_s  ? 2
                         : state == u"stopped"_s ? 1
                                                 : -1;
    if (playback < 0 && state != u"none"_s)
        return u"Unknown media state "_s + state + u" (playing, paused, stopped, none)"_s;
    DeviceState(m_data).update([&](QJsonObject& s) {
        QJsonArray sessions = without(s.value(u"mediaSessions"_s).toArray(), [&](const QJsonObject& m) {
            return m.value(u"package"_s).toString() == package;
        });
        if (playback > 0) {
            QJsonObject session{{u"package"_s, package}, {u"state"_s, playback}, {u"position"_s, 0}};
            if (!title.isEmpty()) session.insert(u"title"_s, title);
            if (!artist.isEmpty()) session.insert(u"artist"_s, artist);
            if (!album.isEmpty()) session.insert(u"album"_s, album);
            sessions.prepend(session);
        }
        s.insert(u"mediaSessions"_s, sessions);
        return true;
    });
    return {};
}

QString SimControl::putDownload(const QString& hostFile, const QString& name) {
    if (!exists()) return noDevice;
    const QString target = name.isEmpty() ? QFileInfo(hostFile).fileName() : name;
    if (target.contains(u'/') || target == u".."_s || target.isEmpty()) return u"Bad file name "_s + target;
    QFile source(hostFile);
    if (!source.open(QIODevice::ReadOnly)) return u"Cannot read "_s + hostFile;
    // Written without following links: the device's root shell may have planted one.
    const int fd = openInside(m_data, u"media/0/Download/"_s + target, O_WRONLY | O_CREAT | O_TRUNC, 0664);
    if (fd < 0) return u"Cannot write into the device's Download folder"_s;
    const QByteArray bytes = source.readAll();
    const bool ok = write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    close(fd);
    return ok ? QString() : u"Cannot write into the device's Download folder"_s;
}

QString SimControl::setClipboard(const QString& text) {
    if (!exists()) return noDevice;
    DeviceState(m_data).update([&](QJsonObject& s) {
        s.insert(u"clipboard"_s, text);
        return true;
    });
    return {};
}

QString SimControl::setFault(const QString& name, const QJsonValue& value) {
    static const QStringList known{u"nextInstallFailure"_s, u"packageServiceMissing"_s,
                                   u"bootNeverCompletes"_s, u"networkNeverValidates"_s,
                                   u"slowForceStop"_s,      u"nextRestoreconFailure"_s};
    if (!known.contains(name)) return u"Unknown fault "_s + name + u" ("_s + known.join(u", "_s) + u')';
    if (!exists()) return noDevice;
    DeviceState(m_data).update([&](QJsonObject& s) {
        QJsonObject faults = s.value(u"faults"_s).toObject();
        if (value.isNull() || value == QJsonValue(false))
            faults.remove(name);
        else
            faults.insert(name, value);
        s.insert(u"faults"_s, faults);
        return true;
    });
    return {};
}

QString SimControl::setServerFault(const QString& name, const QJsonValue& value) {
    static const QStringList known{u"dieAfterFrames"_s, u"videoCodecId"_s, u"audioCodecId"_s, u"replay"_s,
                                   u"replayFps"_s};
    if (!known.contains(name))
        return u"Unknown display-server fault "_s + name + u" ("_s + known.join(u", "_s) + u')';
    if (!exists()) return noDevice;
    DeviceState(m_data).update([&](QJsonObject& s) {
        QJsonObject faults = s.value(u"faults"_s).toObject();
        QJsonObject server = faults.value(u"server"_s).toObject();
        if (value.isNull())
            server.remove(name);
        else
            server.insert(name, value);
        faults.insert(u"server"_s, server);
        s.insert(u"faults"_s, faults);
        return true;
    });
    return {};
}

QString SimControl::clearFaults() {
    if (!exists()) return noDevice;
    DeviceState(m_data).update([](QJsonObject& s) {
        s.insert(u"faults"_s, QJsonObject{});
        return true;
    });
    return {};
}

QList<QJsonObject> SimControl::received() const {
    return DeviceState(m_data).received();
}
QList<qint64> SimControl::keysReceived() const {
    QList<qint64> keys;
    for (const QJsonObject& event : received())
        if (event.value(u"message"_s).toInt() == 0 && event.contains(u"keycode"_s))
            keys.append(event.value(u"keycode"_s).toInteger() * (event.value(u"action"_s).toInt() ? -1 : 1));
    return keys;
}
void SimControl::clearReceived() {
    DeviceState(m_data).clearReceived();
}
QJsonObject SimControl::state() const {
    return DeviceState(m_data).read();
}
