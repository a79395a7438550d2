// dumpsys for the services Vantle reads. The layouts follow the dumps of Android 14 and 15
// emulator images: NotificationRecord lines with "key=" and "pkg=" and a Notification(...) with
// its flags, extras printed as "android.title=String (…)" (redacted to "String [length=n]" without
// --noredact); media sessions with "package=", "state=PlaybackState {state=3, …}" and "metadata:
// size=…, description=Title, Artist, Album"; "versionCode=… minSdk=… targetSdk=…" in the package
// dump; "ResumedActivity: ActivityRecord{… u0 pkg/activity t…}" in the activity dump; and the
// network agents' capability list, which holds VALIDATED once the network works.
#include "sim/device/DeviceCommands.h"

#include <QDateTime>
#include <QJsonArray>

using namespace Qt::Literals::StringLiterals;

namespace {

QString hex(quint64 value, int width = 8) {
    return u"%1"_s.arg(value, width, 16, QChar(u'0'));
}

QString extra(const QString& value, bool redact) {
    return redact ? u"String [length=%1]"_s.arg(value.size()) : u"String ("_s + value + u')';
}

int notification(DeviceContext& context, const QStringList& arguments) {
    const bool redact = !arguments.contains(u"--noredact"_s);
    const QJsonObject state = context.state.read();
    const QJsonObject packages = state.value(u"packages"_s).toObject();
    QString text = u"Current Notification Manager state:\n  Notification List:\n"_s;
    for (const QJsonValue& value : state.value(u"notifications"_s).toArray()) {
        const QJsonObject n = value.toObject();
        const QString package = n.value(u"package"_s).toString();
        const int uid = packages.value(package).toObject().value(u"uid"_s).toInt(2000);
        const int id = n.value(u"id"_s).toInt();
        const QString key = u"0|%1|%2|null|%3"_s.arg(package).arg(id).arg(uid);
        const quint32 flags = quint32(n.value(u"flags"_s).toInt());
        const bool media = n.value(u"media"_s).toBool();
        const QString category = media ? u" category=transport"_s : QString();
        text += u"    NotificationRecord(0x%1: pkg=%2 user=UserHandle{0} id=%3 tag=null importance=3 key=%4: "
                u"Notification(channel=default shortcut=null contentView=null vibrate=null sound=null "
                u"defaults=0x0 "
                u"flags=0x%5 color=0x00000000%6 vis=PRIVATE))\n"_s.arg(hex(qHash(key) & 0xffffffffu), package)
                    .arg(id)
                    .arg(key, QString::number(flags, 16), category);
        text +=
            u"      uid=%1 userId=0\n      opPkg=%2\n      flags=0x%3\n      pri=0\n      key=%4\n"_s.arg(uid)
                .arg(package, QString::number(flags, 16), key);
        text += u"      seen=false\n      extras={\n"_s;
        text += u"        android.title="_s + extra(n.value(u"title"_s).toString(), redact) + u'\n';
        text += u"        android.text="_s + extra(n.value(u"text"_s).toString(), redact) + u'\n';
        if (media) {
            text += u"        android.template=String (android.app.Notification$MediaStyle)\n"_s;
            text +=
                u"        android.mediaSession=MediaSession.Token {Binder: android.os.BinderProxy@1a2b3c}\n"_s;
        }
        text += u"        android.showWhen=Boolean (true)\n      }\n"_s;
    }
    text += u"\n  mNotificationsEnabled=true\n"_s;
    context.out(text);
    return 0;
}

int mediaSession(DeviceContext& context) {
    const QJsonObject state = context.state.read();
    const QJsonArray sessions = state.value(u"mediaSessions"_s).toArray();
    const QJsonObject packages = state.value(u"packages"_s).toObject();
    QString text = u"MEDIA SESSION SERVICE (dumpsys media_session)\n\n"_s;
    text += u"  Sessions Stack - have %1 sessions:\n"_s.arg(sessions.size());
    for (const QJsonValue& value : sessions) {
        const QJsonObject s = value.toObject();
        const QString package = s.value(u"package"_s).toString();
        const int playback = s.value(u"state"_s).toInt();
        const QStringList parts{s.value(u"title"_s).toString(u"null"_s),
                                s.value(u"artist"_s).toString(u"null"_s),
                                s.value(u"album"_s).toString(u"null"_s)};
        text += u"    %1 %2/%1 (userId=0)\n"_s.arg(s.value(u"tag"_s).toString(u"MediaSession"_s), package);
        text += u"      ownerPid=%1, ownerUid=%2, userId=0\n"_s.arg(4000 + qHash(package) % 1000)
                    .arg(packages.value(package).toObject().value(u"uid"_s).toInt());
        text += u"      package="_s + package + u'\n';
        text +=
            u"      launchIntent=null\n      mediaButtonReceiver=null\n      active=true\n      flags=3\n"_s;
        text += u"      rating type=0\n      controllers: 1\n"_s;
        text +=
            u"      state=PlaybackState {state=%1, position=%2, buffered position=0, speed=%3, updated=%4, "
            u"actions=823, custom actions=[], active item id=-1, error=null}\n"_s.arg(playback)
                .arg(s.value(u"position"_s).toInteger())
                .arg(playback == 3 ? u"1.0"_s : u"0.0"_s)
                .arg(QDateTime::currentMSecsSinceEpoch() % 100000000);
        text += u"      audioAttrs=AudioAttributes: usage=USAGE_MEDIA content=CONTENT_TYPE_MUSIC flags=0x800 "
                u"tags= "
                u"bundle=null\n"_s;
        text += u"      volumeType=1, controlType=2, max=0, current=0\n"_s;
        text += u"      metadata: size=%1, description=%2\n"_s.arg(s.contains(u"title"_s) ? 4 : 0)
                    .arg(parts.join(u", "_s));
        text += u"      queueTitle=null, size=0\n"_s;
    }
    text += u"\n  Media button session is null\n"_s;
    context.out(text);
    return 0;
}

int package(DeviceContext& context, const QStringList& arguments) {
    const QString name = arguments.value(0);
    const QJsonObject record = context.state.read().value(u"packages"_s).toObject().value(name).toObject();
    if (record.isEmpty()) {
        context.out(u"Unable to find package: "_s + name + u'\n');
        return 0;
    }
    auto time = [&](const char* key) {
        return QDateTime::fromMSecsSinceEpoch(record.value(QLatin1StringView(key)).toInteger())
            .toString(u"yyyy-MM-dd HH:mm:ss"_s);
    };
    const QString codePath = record.value(u"codePath"_s).toString();
    QString text = u"Packages:\n  Package [%1] (%2):\n"_s.arg(name, hex(qHash(name) & 0xfffffff, 7));
    text += u"    userId=%1\n    pkg=Package{%2 %3}\n    codePath=%4\n    resourcePath=%4\n"_s
                .arg(record.value(u"uid"_s).toInt())
                .arg(hex(qHash(codePath) & 0xfffffff, 7), name, codePath);
    text += u"    primaryCpuAbi=x86_64\n    secondaryCpuAbi=null\n"_s;
    text += u"    versionCode=%1 minSdk=%2 targetSdk=%3\n"_s.arg(record.value(u"versionCode"_s).toInteger())
                .arg(record.value(u"minSdk"_s).toInt())
                .arg(record.value(u"targetSdk"_s).toInt());
    text += u"    versionName=%1\n"_s.arg(record.value(u"versionName"_s).toString());
    text += u"    dataDir=/data/user/0/%1\n"_s.arg(name);
    text += u"    firstInstallTime=%1\n    lastUpdateTime=%2\n"_s.arg(time("firstInstallTime"),
                                                                      time("lastUpdateTime"));
    text += u"    installerPackageName=null\n"_s;
    context.out(text);
    return 0;
}

int activities(DeviceContext& context) {
    const QString resumed = context.state.read().value(u"resumed"_s).toString();
    const QString record = u"ActivityRecord{%1 u0 %2 t%3}"_s.arg(hex(qHash(resumed) & 0xfffffff, 7), resumed)
                               .arg(10 + qHash(resumed) % 90);
    QString text =
        u"ACTIVITY MANAGER ACTIVITIES (dumpsys activity activities)\nDisplay #0 (activities from top to bottom):\n"_s;
    text += u"  * Task{%1 #%2 type=standard A=10000:%3}\n"_s.arg(hex(qHash(resumed) & 0xfffffff, 7))
                .arg(10 + qHash(resumed) % 90)
                .arg(DeviceFacts::packageOf(resumed));
    text += u"    * Hist  #0: "_s + record + u'\n';
    text += u"\n  Resumed activities in task display areas (from top to bottom):\n    ResumedActivity: "_s +
            record + u'\n';
    text += u"\n  ResumedActivity: "_s + record + u'\n';
    context.out(text);
    return 0;
}

int connectivity(DeviceContext& context) {
    const bool validated = context.runtime().value(u"networkValidated"_s).toBool();
    QString capabilities =
        u"INTERNET&NOT_RESTRICTED&TRUSTED&NOT_VPN&NOT_SUSPENDED&NOT_ROAMING&FOREGROUND&NOT_CONGESTED"_s;
    if (validated) capabilities += u"&VALIDATED"_s;
    QString text =
        u"NetworkProviders for:\nActive default network: 100\n\nCurrent network preferences:\n\n"_s;
    text +=
        u"Current Networks:\n  NetworkAgentInfo{network{100}  handle{432902426637}  ni{WIFI CONNECTED extra: "
        u"} "
        u"Score(Policies : IS_VALIDATED&EVER_USER_SELECTED ; KeepConnected : 0)  lp{{InterfaceName: wlan0 "
        u"LinkAddresses: [ 10.0.2.16/24 ] DnsAddresses: [ /10.0.2.3 ]}}  nc{[ Transports: WIFI Capabilities: "_s +
        capabilities +
        u" LinkUpBandwidth>=30000Kbps LinkDnBandwidth>=30000Kbps]}  factorySerialNumber=2}\n"_s;
    context.out(text);
    return 0;
}

} // namespace

int dumpsysCommand(DeviceContext& context, const QStringList& arguments) {
    const QString service = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (service == u"notification"_s) return notification(context, rest);
    if (service == u"media_session"_s) return mediaSession(context);
    if (service == u"package"_s) {
        if (!DeviceFacts::packageServiceUp(context.state.read())) {
            context.out(u"Can't find service: package\n"_s);
            return 0;
        }
        return package(context, rest);
    }
    if (service == u"activity"_s &&
        (rest.isEmpty() || rest.first() == u"activities"_s || rest.first() == u"a"_s))
        return activities(context);
    if (service == u"connectivity"_s) return connectivity(context);
    if (service == u"-l"_s) {
        context.out(
            u"Currently running services:\n  activity\n  connectivity\n  media_session\n  notification\n  package\n"_s);
        return 0;
    }
    context.out(u"Can't find service: "_s + service + u'\n');
    return 0;
}
