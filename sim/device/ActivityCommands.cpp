// am, cmd and content: starting and stopping apps, broadcasts (the media scanner indexes files
// for content queries), night mode, media volume and media keys, and the media store's rows.
// Texts follow Android's activity manager, cmd and content shell commands.
#include "sim/device/DeviceCommands.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QUrl>
#include <chrono>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Intent {
    QString action, data, type, component, package;
    QString stream; // the extra android.intent.extra.STREAM (a content URI)
    QStringList categories;
    int display = -1;
    bool extras = false;
    bool grantRead = false; // FLAG_GRANT_READ_URI_PERMISSION (0x1)

    // Android's Intent.toShortString, as am prints it.
    QString describe() const {
        QStringList parts;
        if (!action.isEmpty()) parts << u"act="_s + action;
        if (!categories.isEmpty()) parts << u"cat=["_s + categories.join(u',') + u']';
        if (!data.isEmpty()) parts << u"dat="_s + data;
        if (!type.isEmpty()) parts << u"typ="_s + type;
        if (grantRead) parts << u"flg=0x1"_s;
        if (!package.isEmpty()) parts << u"pkg="_s + package;
        if (!component.isEmpty()) parts << u"cmp="_s + component;
        if (extras) parts << u"(has extras)"_s;
        return u"Intent { "_s + parts.join(u' ') + u" }"_s;
    }
};

// Parses am's intent options; the first argument that is no option is taken as data or component.
std::optional<Intent> parseIntent(const QStringList& arguments, QString& error) {
    static const QStringList twoValueExtras{u"--es"_s, u"--ei"_s,  u"--el"_s,  u"--ez"_s,  u"--ef"_s,
                                            u"--eu"_s, u"--esa"_s, u"--eia"_s, u"--ecn"_s, u"-e"_s};
    Intent intent;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size()) return std::nullopt;
            return arguments[++i];
        };
        std::optional<QString> v;
        if (option == u"-a"_s || option == u"-d"_s || option == u"-t"_s || option == u"-c"_s ||
            option == u"-n"_s || option == u"-p"_s || option == u"--display"_s || option == u"--user"_s ||
            option == u"-f"_s) {
            if (!(v = value())) {
                error = u"Error: No value specified for "_s + option;
                return std::nullopt;
            }
            if (option == u"-a"_s)
                intent.action = *v;
            else if (option == u"-d"_s)
                intent.data = *v;
            else if (option == u"-t"_s)
                intent.type = *v;
            else if (option == u"-c"_s)
                intent.categories << *v;
            else if (option == u"-n"_s)
                intent.component = *v;
            else if (option == u"-p"_s)
                intent.package = *v;
            else if (option == u"--display"_s)
                intent.display = v->toInt();
        } else if (twoValueExtras.contains(option)) {
            if (i + 2 >= arguments.size()) {
                error = u"Error: No value specified for "_s + option;
                return std::nullopt;
            }
            if (option == u"--eu"_s && arguments[i + 1] == u"android.intent.extra.STREAM"_s)
                intent.stream = arguments[i + 2];
            i += 2;
            intent.extras = true;
        } else if (option == u"--grant-read-uri-permission"_s) {
            intent.grantRead = true;
        } else if (option.startsWith(u'-')) {
            continue; // -W, -S, --activity-clear-task ...
        } else if (option.contains(u'/') && !option.contains(u':')) {
            intent.component = option;
        } else {
            intent.data = option;
        }
    }
    return intent;
}

// Android's MIME matching of an intent filter's type against an intent's: "*/*", "image/*" or exact.
bool mimeMatches(const QString& filter, const QString& type) {
    if (filter == u"*/*"_s || filter == type) return true;
    return filter.endsWith(u"/*"_s) && type.startsWith(filter.chopped(1));
}

// The package's activity whose SEND filter takes the intent's type; empty when there is none.
QString shareReceiver(const QJsonObject& package, const QString& type) {
    for (const QJsonValue& value : package.value(u"share"_s).toArray()) {
        const QJsonObject target = value.toObject();
        for (const QJsonValue& filter : target.value(u"mimeTypes"_s).toArray())
            if (mimeMatches(filter.toString(), type)) return target.value(u"component"_s).toString();
    }
    return {};
}

int start(DeviceContext& context, const QStringList& arguments) {
    QString error;
    const std::optional<Intent> intent = parseIntent(arguments, error);
    if (!intent) {
        context.err(error + u'\n');
        return 1;
    }
    context.out(u"Starting: "_s + intent->describe() + u'\n');
    const QJsonObject state = context.state.read();
    const QJsonObject packages = state.value(u"packages"_s).toObject();
    QString resolved;
    if (!intent->component.isEmpty()) {
        const QString package = DeviceFacts::packageOf(intent->component);
        if (!packages.contains(package) && !DeviceFacts::systemPackages().contains(package)) {
            context.err(u"Error: Activity class {%1} does not exist.\n"_s.arg(intent->component));
            return 1;
        }
        resolved = intent->component;
    } else if (intent->action == u"android.intent.action.SEND"_s) {
        // Shared content goes only to an activity that declared it takes this type.
        if (!intent->package.isEmpty() && packages.contains(intent->package))
            resolved = shareReceiver(packages.value(intent->package).toObject(), intent->type);
    } else if (!intent->package.isEmpty() && packages.contains(intent->package)) {
        resolved = packages.value(intent->package).toObject().value(u"launcher"_s).toString();
    } else if (intent->package.isEmpty() && intent->categories.contains(u"android.intent.category.HOME"_s)) {
        resolved = QLatin1StringView(DeviceFacts::launcherActivity);
    }
    if (resolved.isEmpty()) {
        context.err(u"Error: Activity not started, unable to resolve "_s + intent->describe() + u'\n');
        return 1;
    }
    context.state.update([&](QJsonObject& s) {
        s.insert(u"resumed"_s, resolved);
        return true;
    });
    context.record(u"am"_s, QJsonObject{{u"command"_s, u"start"_s},
                                        {u"component"_s, resolved},
                                        {u"action"_s, intent->action},
                                        {u"mime"_s, intent->type},
                                        {u"data"_s, intent->data},
                                        {u"stream"_s, intent->stream},
                                        {u"grantRead"_s, intent->grantRead},
                                        {u"display"_s, intent->display}});
    return 0;
}

// Android's media store keeps canonical paths below /storage/emulated/0.
QString canonicalMediaPath(const QString& path) {
    QString clean = QUrl(path).isLocalFile() ? QUrl(path).toLocalFile() : path;
    for (const QString& alias : {u"/sdcard/"_s, u"/storage/self/primary/"_s, u"/data/media/0/"_s})
        if (clean.startsWith(alias)) clean = u"/storage/emulated/0/"_s + clean.mid(alias.size());
    return clean;
}

int broadcast(DeviceContext& context, const QStringList& arguments) {
    QString error;
    const std::optional<Intent> intent = parseIntent(arguments, error);
    if (!intent) {
        context.err(error + u'\n');
        return 1;
    }
    context.out(u"Broadcasting: "_s + intent->describe() + u'\n');
    if (intent->action == u"android.intent.action.MEDIA_SCANNER_SCAN_FILE"_s &&
        intent->data.startsWith(u"file://"_s)) {
        const QString path = canonicalMediaPath(intent->data);
        const QFileInfo file(path);
        if (file.isFile()) {
            const QString mime = QMimeDatabase().mimeTypeForFile(file).name();
            context.state.update([&](QJsonObject& state) {
                QJsonArray rows = state.value(u"mediaStore"_s).toArray();
                for (const QJsonValue& row : rows)
                    if (row.toObject().value(u"_data"_s).toString() == path) return false;
                const int id = state.value(u"nextMediaId"_s).toInt(31);
                state.insert(u"nextMediaId"_s, id + 1);
                rows.append(QJsonObject{{u"_id"_s, id},
                                        {u"_data"_s, path},
                                        {u"_display_name"_s, file.fileName()},
                                        {u"_size"_s, file.size()},
                                        {u"mime_type"_s, mime}});
                state.insert(u"mediaStore"_s, rows);
                return true;
            });
        }
    }
    context.record(u"am"_s, QJsonObject{{u"command"_s, u"broadcast"_s},
                                        {u"action"_s, intent->action},
                                        {u"data"_s, intent->data}});
    context.out(u"Broadcast completed: result=0\n"_s);
    return 0;
}

int forceStop(DeviceContext& context, const QStringList& arguments) {
    const QString package = DeviceFacts::packageArgument(arguments);
    if (package.isEmpty()) {
        context.err(u"Error: no package specified\n"_s);
        return 1;
    }
    // A busy activity manager (fault "slowForceStop", in milliseconds): the stop lands late.
    const int delayMs = context.state.read().value(u"faults"_s).toObject().value(u"slowForceStop"_s).toInt();
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    context.state.update([&](QJsonObject& state) {
        DeviceFacts::forceStop(state, package);
        return true;
    });
    context.record(u"am"_s, QJsonObject{{u"command"_s, u"force-stop"_s}, {u"package"_s, package}});
    return 0;
}

int uimode(DeviceContext& context, const QStringList& arguments) {
    if (arguments.value(0) != u"night"_s) {
        context.err(u"Error: unknown command '%1'\n"_s.arg(arguments.value(0)));
        return 255;
    }
    const QString mode = arguments.value(1);
    if (mode.isEmpty()) {
        context.out(u"Night mode: "_s + DeviceFacts::stateNightMode(context.state.read()) + u'\n');
        return 0;
    }
    if (mode != u"yes"_s && mode != u"no"_s && mode != u"auto"_s) {
        context.err(u"Error: mode must be 'yes', 'no', or 'auto'\n"_s);
        return 255;
    }
    context.state.update([&](QJsonObject& state) {
        state.insert(u"nightMode"_s, mode);
        return true;
    });
    context.record(u"uimode"_s, QJsonObject{{u"night"_s, mode}});
    context.out(u"Night mode: "_s + mode + u'\n');
    return 0;
}

QJsonObject volumeOf(const QJsonObject& state, const QString& stream) {
    return state.value(u"volumes"_s).toObject().value(stream).toObject();
}

int audio(DeviceContext& context, const QStringList& arguments) {
    if (arguments.value(0) != u"set-volume"_s || arguments.size() < 3) {
        context.err(u"audio: unknown command or missing arguments\n"_s);
        return 1;
    }
    const QString stream = arguments[1];
    bool ok = false;
    const int requested = arguments[2].toInt(&ok);
    if (!ok || volumeOf(context.state.read(), stream).isEmpty()) {
        context.err(u"Error: invalid stream or volume\n"_s);
        return 1;
    }
    int applied = requested;
    context.state.update([&](QJsonObject& state) {
        QJsonObject volumes = state.value(u"volumes"_s).toObject();
        QJsonObject volume = volumes.value(stream).toObject();
        applied = std::clamp(requested, volume.value(u"min"_s).toInt(), volume.value(u"max"_s).toInt());
        volume.insert(u"current"_s, applied);
        volumes.insert(stream, volume);
        state.insert(u"volumes"_s, volumes);
        return true;
    });
    context.record(u"volume"_s, QJsonObject{{u"stream"_s, stream.toInt()}, {u"volume"_s, applied}});
    context.out(u"calling AudioManager.setStreamVolume(%1, %2, 0)\n"_s.arg(stream).arg(requested));
    return 0;
}

int mediaSession(DeviceContext& context, const QStringList& arguments) {
    const QString verb = arguments.value(0);
    if (verb == u"volume"_s) {
        QString stream = u"3"_s;
        std::optional<int> set;
        bool get = false;
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            if (arguments[i] == u"--stream"_s)
                stream = arguments.value(++i);
            else if (arguments[i] == u"--get"_s)
                get = true;
            else if (arguments[i] == u"--set"_s)
                set = arguments.value(++i).toInt();
        }
        const QJsonObject volume = volumeOf(context.state.read(), stream);
        if (volume.isEmpty()) {
            context.err(u"Error: invalid stream %1\n"_s.arg(stream));
            return 1;
        }
        if (get) {
            context.out(u"[V] will get volume\n[V] volume is %1 in range [%2..%3]\n"_s
                            .arg(volume.value(u"current"_s).toInt())
                            .arg(volume.value(u"min"_s).toInt())
                            .arg(volume.value(u"max"_s).toInt()));
        } else if (set) {
            context.out(u"[V] will set volume\n"_s);
            return audio(context, {u"set-volume"_s, stream, QString::number(*set)});
        }
        return 0;
    }
    if (verb == u"dispatch"_s) {
        const QString key = arguments.value(1);
        context.record(u"mediaKey"_s, QJsonObject{{u"key"_s, key}});
        context.state.update([&](QJsonObject& state) {
            QJsonArray sessions = state.value(u"mediaSessions"_s).toArray();
            if (sessions.isEmpty()) return false;
            QJsonObject session = sessions.first().toObject();
            const int playback = session.value(u"state"_s).toInt();
            if (key == u"play"_s)
                session.insert(u"state"_s, 3);
            else if (key == u"pause"_s)
                session.insert(u"state"_s, 2);
            else if (key == u"play-pause"_s)
                session.insert(u"state"_s, playback == 3 ? 2 : 3);
            else if (key == u"stop"_s)
                session.insert(u"state"_s, 1);
            sessions.replace(0, session);
            state.insert(u"mediaSessions"_s, sessions);
            return true;
        });
        return 0;
    }
    context.err(u"Error: unknown command '%1'\n"_s.arg(verb));
    return 1;
}

// `--where` as the media provider's shell use has it: one column compared to one value.
std::optional<std::pair<QString, QString>> parseWhere(const QString& where) {
    static const QRegularExpression pattern(u"^\\s*(\\w+)\\s*=\\s*(?:'([^']*)'|(\\d+))\\s*$"_s);
    const QRegularExpressionMatch match = pattern.match(where);
    if (!match.hasMatch()) return std::nullopt;
    return std::pair{match.captured(1), match.captured(2).isEmpty() ? match.captured(3) : match.captured(2)};
}

} // namespace

int amCommand(DeviceContext& context, const QStringList& arguments) {
    const QString verb = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (verb == u"start"_s || verb == u"start-activity"_s) return start(context, rest);
    if (verb == u"broadcast"_s) return broadcast(context, rest);
    if (verb == u"force-stop"_s || verb == u"kill"_s) return forceStop(context, rest);
    context.err(u"Error: Unknown command: "_s + verb + u'\n');
    return 1;
}

int cmdCommand(DeviceContext& context, const QStringList& arguments) {
    const QString service = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (service.isEmpty()) {
        context.err(
            u"cmd: No service specified; use -l to list all running services. Use -w to start and wait for a service.\n"_s);
        return 20;
    }
    if (service == u"-l"_s) {
        context.out(
            u"Currently running services:\n  activity\n  audio\n  media_session\n  package\n  settings\n  uimode\n"_s);
        return 0;
    }
    if (service == u"package"_s) {
        if (!DeviceFacts::packageServiceUp(context.state.read())) {
            context.err(u"cmd: Can't find service: package\n"_s);
            return 20;
        }
        return pmCommand(context, rest);
    }
    if (service == u"activity"_s) return amCommand(context, rest);
    if (service == u"settings"_s) return settingsCommand(context, rest);
    if (service == u"uimode"_s) return uimode(context, rest);
    if (service == u"media_session"_s) return mediaSession(context, rest);
    if (service == u"audio"_s) return audio(context, rest);
    context.err(u"cmd: Can't find service: "_s + service + u'\n');
    return 20;
}

int contentCommand(DeviceContext& context, const QStringList& arguments) {
    if (arguments.value(0) != u"query"_s) {
        context.err(u"Error: unsupported operation\n"_s);
        return 1;
    }
    QString uri, where;
    QStringList projection;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == u"--uri"_s)
            uri = arguments.value(++i);
        else if (arguments[i] == u"--projection"_s)
            projection = arguments.value(++i).split(u':', Qt::SkipEmptyParts);
        else if (arguments[i] == u"--where"_s)
            where = arguments.value(++i);
        else if (arguments[i] == u"--sort"_s || arguments[i] == u"--user"_s)
            ++i;
    }
    if (uri.isEmpty()) {
        context.err(u"Error: Content provider URI not specified\n"_s);
        return 1;
    }
    if (!uri.startsWith(u"content://media/external/"_s)) {
        context.err(
            u"Error while accessing provider:%1\njava.lang.IllegalArgumentException: Unknown URI %2\n"_s.arg(
                QUrl(uri).host(), uri));
        return 1;
    }
    std::optional<std::pair<QString, QString>> condition;
    if (!where.isEmpty() && !(condition = parseWhere(where))) {
        context.err(
            u"Error while accessing provider:media\nandroid.database.sqlite.SQLiteException: near \"%1\": syntax error\n"_s
                .arg(where));
        return 1;
    }
    int index = 0;
    QString text;
    for (const QJsonValue& value : context.state.read().value(u"mediaStore"_s).toArray()) {
        const QJsonObject row = value.toObject();
        if (condition && row.value(condition->first).toVariant().toString() != condition->second) continue;
        QStringList columns = projection.isEmpty() ? QStringList{u"_id"_s, u"_data"_s, u"_display_name"_s,
                                                                 u"_size"_s, u"mime_type"_s}
                                                   : projection;
        QStringList cells;
        for (const QString& column : columns)
            cells << column + u'=' +
                         (row.contains(column) ? row.value(column).toVariant().toString() : u"NULL"_s);
        text += u"Row: %1 "_s.arg(index++) + cells.join(u", "_s) + u'\n';
    }
    context.out(text.isEmpty() ? u"No result found.\n"_s : text);
    return 0;
}
