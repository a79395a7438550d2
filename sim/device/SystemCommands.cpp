// getprop, setprop, service, settings, input, screencap, su, chown, restorecon and app_process:
// the small system commands of the simulated device, with Android's output texts.
#include "sim/device/DeviceCommands.h"
#include "sim/screen/DeviceScreen.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QMap>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ftw.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QMap<QString, QString> properties(const DeviceContext& context) {
    QMap<QString, QString> props;
    QFile file(u"/system/build.prop"_s);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            const qsizetype equals = line.indexOf(u'=');
            if (!line.startsWith(u'#') && equals > 0) props.insert(line.left(equals), line.mid(equals + 1));
        }
    const QJsonObject runtime = context.runtime();
    const bool booted = runtime.value(u"bootCompleted"_s).toBool();
    const QJsonObject hardware = runtime.value(u"hardware"_s).toObject();
    if (booted) {
        props.insert(u"sys.boot_completed"_s, u"1"_s);
        props.insert(u"dev.bootcomplete"_s, u"1"_s);
    }
    props.insert(u"init.svc.bootanim"_s, booted ? u"stopped"_s : u"running"_s);
    props.insert(u"ro.sf.lcd_density"_s, hardware.value(u"hw.lcd.density"_s).toString(u"420"_s));
    props.insert(u"ro.serialno"_s, u"EMULATOR35X1X10X0"_s);
    props.insert(u"persist.sys.timezone"_s, u"GMT"_s);
    const QJsonObject stored = context.state.read().value(u"props"_s).toObject();
    for (auto it = stored.begin(); it != stored.end(); ++it)
        props.insert(it.key(), it.value().toString());
    return props;
}

int settingsNamespaceError(DeviceContext& context, const QString& ns) {
    context.err(u"Invalid namespace '%1'\n"_s.arg(ns));
    return 1;
}

// "x y" in screen pixels; nothing when either is not a number.
std::optional<QPoint> point(const QString& x, const QString& y) {
    bool okX = false, okY = false;
    const double px = x.toDouble(&okX), py = y.toDouble(&okY);
    if (!okX || !okY) return std::nullopt;
    return QPoint(int(px), int(py));
}

int keycodeOf(const QString& key) {
    static const QMap<QString, int> names{{u"KEYCODE_HOME"_s, 3},
                                          {u"KEYCODE_BACK"_s, 4},
                                          {u"KEYCODE_DPAD_UP"_s, 19},
                                          {u"KEYCODE_DPAD_DOWN"_s, 20},
                                          {u"KEYCODE_ENTER"_s, 66},
                                          {u"KEYCODE_DEL"_s, 67},
                                          {u"KEYCODE_MEDIA_PLAY_PAUSE"_s, 85},
                                          {u"KEYCODE_MEDIA_NEXT"_s, 87},
                                          {u"KEYCODE_MEDIA_PREVIOUS"_s, 88},
                                          {u"KEYCODE_APP_SWITCH"_s, 187}};
    bool ok = false;
    const int number = key.toInt(&ok);
    if (ok) return number;
    return names.value(key, -1);
}

int chownOne(const char* path, uid_t uid, gid_t gid, bool group) {
    if (lchown(path, uid, group ? gid : gid_t(-1)) == 0) return 0;
    // Without root on the host, ids outside the user namespace cannot be set (EINVAL): the file
    // keeps the namespace's root as owner, as a file on an sdcardfs mount keeps its fixed owner.
    return errno == EINVAL ? 0 : -1;
}

uid_t chownUid;
gid_t chownGid;
bool chownGroup;
int chownFailures;

int chownVisit(const char* path, const struct stat*, int, struct FTW*) {
    if (chownOne(path, chownUid, chownGid, chownGroup) != 0) {
        std::fprintf(stderr, "chown: %s: %s\n", path, std::strerror(errno));
        ++chownFailures;
    }
    return 0;
}

std::optional<int> accountId(const QString& name) {
    static const QMap<QString, int> names{
        {u"root"_s, 0}, {u"system"_s, 1000}, {u"shell"_s, 2000}, {u"media_rw"_s, 1023}};
    bool ok = false;
    const int number = name.toInt(&ok);
    if (ok && number >= 0) return number;
    if (names.contains(name)) return names.value(name);
    if (name.startsWith(u"u0_a"_s)) {
        const int app = name.mid(4).toInt(&ok);
        if (ok) return firstApplicationUid + app;
    }
    return std::nullopt;
}

} // namespace

int getpropCommand(DeviceContext& context, const QStringList& arguments) {
    const QMap<QString, QString> props = properties(context);
    if (arguments.isEmpty()) {
        QString text;
        for (auto it = props.begin(); it != props.end(); ++it)
            text += u"[%1]: [%2]\n"_s.arg(it.key(), it.value());
        context.out(text);
        return 0;
    }
    context.out(props.value(arguments.first(), arguments.value(1)) + u'\n');
    return 0;
}

int setpropCommand(DeviceContext& context, const QStringList& arguments) {
    if (arguments.size() != 2) {
        context.err(u"usage: setprop NAME VALUE\n"_s);
        return 1;
    }
    if (arguments[0].startsWith(u"ro."_s)) {
        context.err(u"Failed to set property '%1' to '%2'.\n"_s.arg(arguments[0], arguments[1]));
        return 1;
    }
    context.state.update([&](QJsonObject& state) {
        QJsonObject props = state.value(u"props"_s).toObject();
        props.insert(arguments[0], arguments[1]);
        state.insert(u"props"_s, props);
        return true;
    });
    return 0;
}

int serviceCommand(DeviceContext& context, const QStringList& arguments) {
    static const QStringList services{
        u"activity"_s,     u"audio"_s,   u"clipboard"_s, u"connectivity"_s, u"media_session"_s,
        u"notification"_s, u"package"_s, u"settings"_s,  u"uimode"_s,       u"window"_s};
    const QJsonObject state = context.state.read();
    auto running = [&](const QString& name) {
        return services.contains(name) && (name != u"package"_s || DeviceFacts::packageServiceUp(state));
    };
    if (arguments.value(0) == u"check"_s && arguments.size() == 2) {
        context.out(
            u"Service %1: %2\n"_s.arg(arguments[1], running(arguments[1]) ? u"found"_s : u"not found"_s));
        return 0;
    }
    if (arguments.value(0) == u"list"_s) {
        QString text = u"Found %1 services:\n"_s.arg(services.size());
        int index = 0;
        for (const QString& name : services)
            if (running(name)) text += u"%1\t%2: [android.os.IBinder]\n"_s.arg(index++).arg(name);
        context.out(text);
        return 0;
    }
    context.err(u"usage: service [-h|-?]\n       service list\n       service check SERVICE\n"_s);
    return 1;
}

int settingsCommand(DeviceContext& context, const QStringList& arguments) {
    const QString verb = arguments.value(0), ns = arguments.value(1), key = arguments.value(2);
    static const QStringList namespaces{u"global"_s, u"secure"_s, u"system"_s};
    if (verb == u"list"_s) {
        if (!namespaces.contains(ns)) return settingsNamespaceError(context, ns);
        const QJsonObject values = context.state.read().value(u"settings"_s).toObject().value(ns).toObject();
        QString text;
        for (auto it = values.begin(); it != values.end(); ++it)
            text += it.key() + u'=' + it.value().toString() + u'\n';
        context.out(text);
        return 0;
    }
    if ((verb != u"get"_s && verb != u"put"_s && verb != u"delete"_s) || key.isEmpty()) {
        context.err(u"usage:  settings [--user <USER_ID> | current] get namespace key\n"
                    u"        settings [--user <USER_ID> | current] put namespace key value\n"
                    u"        settings [--user <USER_ID> | current] delete namespace key\n"_s);
        return 1;
    }
    if (!namespaces.contains(ns)) return settingsNamespaceError(context, ns);
    if (verb == u"get"_s) {
        const QJsonObject values = context.state.read().value(u"settings"_s).toObject().value(ns).toObject();
        context.out((values.contains(key) ? values.value(key).toString() : u"null"_s) + u'\n');
        return 0;
    }
    if (verb == u"put"_s && arguments.size() < 4) {
        context.err(u"Error: put requires a value\n"_s);
        return 1;
    }
    bool existed = false;
    context.state.update([&](QJsonObject& state) {
        QJsonObject settings = state.value(u"settings"_s).toObject();
        QJsonObject values = settings.value(ns).toObject();
        existed = values.contains(key);
        if (verb == u"put"_s)
            values.insert(key, arguments[3]);
        else
            values.remove(key);
        settings.insert(ns, values);
        state.insert(u"settings"_s, settings);
        return true;
    });
    QJsonObject event{{u"op"_s, verb}, {u"namespace"_s, ns}, {u"key"_s, key}};
    if (verb == u"put"_s) event.insert(u"value"_s, arguments[3]);
    context.record(u"settings"_s, event);
    if (verb == u"delete"_s) context.out(u"Deleted %1 rows\n"_s.arg(existed ? 1 : 0));
    return 0;
}

int inputCommand(DeviceContext& context, const QStringList& arguments) {
    QStringList args = arguments;
    if (!args.isEmpty() && (args.first() == u"touchscreen"_s || args.first() == u"keyboard"_s))
        args.removeFirst();
    const QString verb = args.value(0);
    QJsonObject event{{u"action"_s, verb}};
    std::optional<QPoint> mark;
    QString typed;
    if (verb == u"tap"_s && args.size() == 3 && (mark = point(args[1], args[2]))) {
        event.insert(u"x"_s, mark->x());
        event.insert(u"y"_s, mark->y());
    } else if (verb == u"swipe"_s && (args.size() == 5 || args.size() == 6) && point(args[1], args[2]) &&
               (mark = point(args[3], args[4]))) {
        event.insert(u"from"_s, QJsonArray{args[1].toInt(), args[2].toInt()});
        event.insert(u"x"_s, mark->x());
        event.insert(u"y"_s, mark->y());
    } else if (verb == u"keyevent"_s && args.size() >= 2) {
        QJsonArray codes;
        for (const QString& key : args.mid(1)) {
            const int code = keycodeOf(key);
            if (code < 0) {
                context.err(u"Error: Unknown keycode: "_s + key + u'\n');
                return 1;
            }
            codes.append(code);
        }
        event.insert(u"keycodes"_s, codes);
    } else if (verb == u"text"_s && args.size() >= 2) {
        typed = args.mid(1).join(u' ').replace(u"%s"_s, u" "_s);
        event.insert(u"text"_s, typed);
    } else {
        context.err(u"Error: Unknown command or bad arguments: "_s + arguments.join(u' ') +
                    u"\nUsage: input [<source>] <command> [<arg>...]\n"_s);
        return 1;
    }
    context.record(u"input"_s, event);
    if (mark || !typed.isEmpty() || verb == u"keyevent"_s)
        context.state.update([&](QJsonObject& state) {
            DeviceScreen::applyInput(state, mark, typed, event.value(u"keycodes"_s).toArray());
            return true;
        });
    return 0;
}

int screencapCommand(DeviceContext& context, const QStringList& arguments) {
    bool png = false;
    QString file;
    for (const QString& argument : arguments) {
        if (argument == u"-p"_s)
            png = true;
        else if (!argument.startsWith(u'-'))
            file = argument;
    }
    if (file.endsWith(u".png"_s)) png = true;
    const QImage image = DeviceScreen::capture(context.state.read(), context.runtime());
    QByteArray bytes;
    if (png) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    } else {
        // Raw form: width, height, pixel format (1 = RGBA_8888) and data space, then the pixels.
        const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
        const quint32 header[4] = {quint32(rgba.width()), quint32(rgba.height()), 1, 0};
        bytes.append(reinterpret_cast<const char*>(header), sizeof header);
        bytes.append(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
    }
    if (file.isEmpty()) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return 0;
    }
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
        context.err(u"Error opening file: %1 (%2)\n"_s.arg(file, out.errorString()));
        return 1;
    }
    return 0;
}

int suCommand(DeviceContext& context, const QStringList& arguments) {
    // su [WHO [COMMAND...]]: the emulator image's su. The device shell already runs as root.
    QStringList command = arguments;
    if (!command.isEmpty() && !command.first().startsWith(u'-')) {
        const QString who = command.takeFirst();
        if (!accountId(who)) {
            context.err(u"su: unknown user "_s + who + u'\n');
            return 1;
        }
    }
    if (command.isEmpty()) command = {u"/bin/sh"_s};
    std::vector<QByteArray> bytes;
    for (const QString& part : command)
        bytes.push_back(part.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& part : bytes)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    execvp(argv[0], argv.data());
    context.err(
        u"su: exec failed for %1: %2\n"_s.arg(command.first(), QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}

int chownCommand(DeviceContext& context, const QStringList& arguments) {
    bool recursive = false;
    QStringList rest;
    for (const QString& argument : arguments) {
        if (argument == u"-R"_s)
            recursive = true;
        else if (argument == u"-h"_s || argument == u"-H"_s || argument == u"-L"_s || argument == u"-P"_s)
            continue;
        else
            rest.append(argument);
    }
    if (rest.size() < 2) {
        context.err(u"chown: Need 2 arguments (see \"chown --help\")\n"_s);
        return 1;
    }
    const QString owner = rest.takeFirst();
    const QString user = owner.section(u':', 0, 0), group = owner.section(u':', 1);
    const std::optional<int> uid = accountId(user);
    const std::optional<int> gid = group.isEmpty() ? uid : accountId(group);
    if (!uid || !gid) {
        context.err(u"chown: bad user or group '%1'\n"_s.arg(owner));
        return 1;
    }
    chownUid = uid_t(*uid);
    chownGid = gid_t(*gid);
    chownGroup = owner.contains(u':');
    chownFailures = 0;
    for (const QString& path : rest) {
        const QByteArray local = path.toLocal8Bit();
        if (recursive) {
            if (nftw(local.constData(), chownVisit, 32, FTW_PHYS) != 0) {
                context.err(u"chown: %1: %2\n"_s.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
                ++chownFailures;
            }
        } else if (chownOne(local.constData(), chownUid, chownGid, chownGroup) != 0) {
            context.err(u"chown: %1: %2\n"_s.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            ++chownFailures;
        }
    }
    return chownFailures == 0 ? 0 : 1;
}

int restoreconCommand(DeviceContext& context, const QStringList& arguments) {
    // No SELinux on the simulated device: labels are always right, but the paths must exist. An
    // injected failure refuses the next run once, as a labelling the kernel denies does.
    bool fail = false;
    context.state.update([&](QJsonObject& state) {
        QJsonObject faults = state.value(u"faults"_s).toObject();
        fail = faults.take(u"nextRestoreconFailure"_s).toBool();
        state.insert(u"faults"_s, faults);
        return fail;
    });
    int status = 0;
    for (const QString& argument : arguments) {
        if (argument.startsWith(u'-')) continue;
        if (!QFileInfo::exists(argument) && !QFileInfo(argument).isSymLink()) {
            context.err(u"restorecon: %1: No such file or directory\n"_s.arg(argument));
            status = 1;
        } else if (fail) {
            context.err(u"SELinux: Could not set context for %1:  Operation not permitted\n"_s.arg(argument));
            status = 1;
        }
    }
    return status;
}

int appProcessCommand(DeviceContext& context, const QStringList&) {
    // The display server is relayed by adb itself ("adb shell CLASSPATH=... app_process ...").
    context.err(u"app_process: the simulated device runs the display server only when adb starts it\n"_s);
    return 1;
}
