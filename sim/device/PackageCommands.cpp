// pm and "cmd package": the package manager of the simulated device. Installs copy the APKs to a
// fresh code folder under /data/app and create the app's data folder under /data/data with its
// own user id, as Android's installer does; every answer and failure text follows Android's
// package manager shell command.
#include "sim/ApkFacts.h"
#include "sim/device/DeviceCommands.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRandomGenerator>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char* serviceDown = "Error: Could not access the Package Manager.  Is the system running?\n";

QString randomToken() {
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), 4);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding));
}

// A root shell on the host owns every file; without root, ids outside the user namespace cannot
// be set and the folder keeps the namespace's root as owner.
void setOwner(const QString& path, int uid, int gid) {
    if (lchown(path.toLocal8Bit().constData(), uid_t(uid), gid_t(gid)) != 0) {
    }
}

void makeFolder(const QString& path, mode_t mode, int uid, int gid) {
    QDir().mkpath(path);
    chmod(path.toLocal8Bit().constData(), mode);
    setOwner(path, uid, gid);
}

QString failure(const QString& code, const QString& message) {
    return message.isEmpty() ? u"Failure [%1]\n"_s.arg(code) : u"Failure [%1: %2]\n"_s.arg(code, message);
}

// Android's check of a manifest package name (the package parser's validateName with a separator
// and a file name required): the reason it is refused, or nothing.
QString nameProblem(const QString& name) {
    if (name == u"android"_s) return {}; // the framework itself
    bool hasSeparator = false;
    bool front = true;
    for (const QChar c : name) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            front = false;
            continue;
        }
        if (!front && ((c >= u'0' && c <= u'9') || c == u'_')) continue;
        if (c == u'.') {
            hasSeparator = true;
            front = true;
            continue;
        }
        return u"bad character '%1'"_s.arg(c);
    }
    if (name.isEmpty() || name == u"."_s || name == u".."_s || name.toUtf8().size() > 255)
        return u"Invalid filename"_s;
    return hasSeparator ? QString() : u"must have at least one '.' separator"_s;
}

QString splitFileName(const ApkFacts& facts, const QString& path) {
    const QString name = facts.split.isEmpty() ? QFileInfo(path).completeBaseName() : facts.split;
    return u"split_"_s + name + u".apk"_s;
}

// An install's options as the package manager reads them; -r, -t, -g, -f and friends change
// nothing here.
struct InstallOptions {
    bool allowDowngrade = false;
    qint64 streamedBytes = -1; // -S: the APK comes on stdin with this size
    QStringList paths;
    QStringList flags; // as given, kept by a session for its commit

    static InstallOptions parse(const QStringList& arguments) {
        InstallOptions options;
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            const QString& argument = arguments[i];
            if (argument == u"-S"_s) {
                options.streamedBytes = arguments.value(++i).toLongLong();
            } else if (argument == u"--user"_s || argument == u"-i"_s) {
                options.flags << argument << arguments.value(++i);
            } else if (argument.startsWith(u'-') && argument != u"-"_s) {
                options.allowDowngrade |= argument == u"-d"_s;
                options.flags << argument;
            } else {
                options.paths.append(argument);
            }
        }
        return options;
    }
};

// Where a session (or a streamed install) keeps what it was sent, as Android stages into
// /data/app/vmdl<session>.tmp.
QString stagingFolder(qint64 session) {
    return u"/data/app/vmdl%1.tmp"_s.arg(session);
}

// Copies exactly `size` bytes of stdin (or the file at `source`) to `target`; the bytes written.
qint64 receive(const QString& source, qint64 size, const QString& target) {
    // Unbuffered: a buffered QFile would wait to fill its buffer from a pipe that adb keeps open
    // until it has read the answer.
    QFile in;
    const bool opened = source == u"-"_s ? in.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered)
                                         : (in.setFileName(source), in.open(QIODevice::ReadOnly));
    QFile out(target);
    if (!opened || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return -1;
    qint64 written = 0;
    while (size < 0 || written < size) {
        const QByteArray chunk = in.read(size < 0 ? 65536 : std::min<qint64>(65536, size - written));
        if (chunk.isEmpty()) break;
        out.write(chunk);
        written += chunk.size();
    }
    return written;
}

int installFiles(DeviceContext& context, bool allowDowngrade, const QStringList& paths);

int install(DeviceContext& context, const QStringList& arguments) {
    const InstallOptions options = InstallOptions::parse(arguments);
    if (options.paths.isEmpty() && options.streamedBytes >= 0) {
        // adb's streamed install: "cmd package install -S <size>" with the APK on stdin.
        const QString folder = stagingFolder(QDateTime::currentMSecsSinceEpoch());
        QDir().mkpath(folder);
        const QString staged = folder + u"/base.apk"_s;
        const qint64 got = receive(u"-"_s, options.streamedBytes, staged);
        int status = 1;
        if (got != options.streamedBytes)
            context.out(failure(u"INSTALL_FAILED_INVALID_APK"_s,
                                u"Expected %1 bytes, received %2"_s.arg(options.streamedBytes).arg(got)));
        else
            status = installFiles(context, options.allowDowngrade, {staged});
        QDir(folder).removeRecursively();
        return status;
    }
    if (options.paths.isEmpty()) {
        context.err(u"Error: no package specified\n"_s);
        return 1;
    }
    return installFiles(context, options.allowDowngrade, options.paths);
}

// install-create, install-write, install-commit, install-abandon: adb's install-multiple.
int installSession(DeviceContext& context, const QString& verb, const QStringList& arguments) {
    if (verb == u"install-create"_s) {
        const qint64 session = QRandomGenerator::system()->bounded(1, 2147483646);
        QDir().mkpath(stagingFolder(session));
        QFile flags(stagingFolder(session) + u"/.flags"_s);
        if (!flags.open(QIODevice::WriteOnly)) {
            context.err(u"Error: Failed to create session\n"_s);
            return 1;
        }
        flags.write(InstallOptions::parse(arguments).flags.join(u'\n').toUtf8());
        context.out(u"Success: created install session [%1]\n"_s.arg(session));
        return 0;
    }
    const InstallOptions options = InstallOptions::parse(arguments);
    const qint64 session = options.paths.value(0).toLongLong();
    const QString folder = stagingFolder(session);
    if (session <= 0 || !QFileInfo::exists(folder + u"/.flags"_s)) {
        context.err(u"Exception occurred while executing '%1':\njava.lang.SecurityException: Caller has no "
                    u"access to session %2\n"_s.arg(verb, options.paths.value(0)));
        return 1;
    }
    if (verb == u"install-abandon"_s) {
        QDir(folder).removeRecursively();
        context.out(u"Success\n"_s);
        return 0;
    }
    if (verb == u"install-write"_s) {
        QString name = options.paths.value(1);
        if (name.isEmpty() || name.contains(u'/') || name.startsWith(u'.')) {
            context.err(u"Error: Invalid name: %1\n"_s.arg(name));
            return 1;
        }
        if (!name.endsWith(u".apk"_s)) name += u".apk"_s;
        const qint64 got =
            receive(options.paths.value(2, u"-"_s), options.streamedBytes, folder + u'/' + name);
        if (got < 0 || (options.streamedBytes >= 0 && got != options.streamedBytes)) {
            context.err(u"Error: Failed to write session %1: received %2 of %3 bytes\n"_s.arg(session)
                            .arg(std::max<qint64>(got, 0))
                            .arg(options.streamedBytes));
            return 1;
        }
        context.out(u"Success: streamed %1 bytes\n"_s.arg(got));
        return 0;
    }
    // install-commit: the base APK (the one that is no split) first.
    QFile flagsFile(folder + u"/.flags"_s);
    flagsFile.open(QIODevice::ReadOnly);
    const QStringList flags = QString::fromUtf8(flagsFile.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QStringList paths;
    for (const QFileInfo& file : QDir(folder).entryInfoList({u"*.apk"_s}, QDir::Files, QDir::Name)) {
        const std::optional<ApkFacts> facts = ApkFacts::read(file.filePath());
        if (facts && facts->split.isEmpty())
            paths.prepend(file.filePath());
        else
            paths.append(file.filePath());
    }
    int status = 1;
    if (paths.isEmpty())
        context.out(failure(u"INSTALL_FAILED_INVALID_APK"_s, u"No packages staged"_s));
    else
        status = installFiles(context, InstallOptions::parse(flags).allowDowngrade, paths);
    QDir(folder).removeRecursively();
    return status;
}

int installFiles(DeviceContext& context, bool allowDowngrade, const QStringList& paths) {
    const QJsonObject before = context.state.read();
    if (!DeviceFacts::packageServiceUp(before)) {
        context.err(QLatin1StringView(serviceDown));
        return 1;
    }
    QList<ApkFacts> apks;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable()) {
            context.err(
                u"Error: Unable to open file: %1\nConsider using a file under /data/local/tmp/\n"_s.arg(
                    path));
            return 1;
        }
        const std::optional<ApkFacts> facts = ApkFacts::read(path);
        if (!facts) {
            context.out(failure(u"INSTALL_PARSE_FAILED_NOT_APK"_s, u"Failed to parse %1"_s.arg(path)));
            return 1;
        }
        if (const QString problem = nameProblem(facts->package); !problem.isEmpty()) {
            context.out(failure(u"INSTALL_PARSE_FAILED_BAD_PACKAGE_NAME"_s,
                                u"Invalid manifest package: "_s + problem));
            return 1;
        }
        apks.append(*facts);
    }
    const ApkFacts& base = apks.first();
    const QString package = base.package;
    for (qsizetype i = 1; i < apks.size(); ++i)
        if (apks[i].package != package) {
            context.out(failure(
                u"INSTALL_FAILED_INVALID_APK"_s,
                u"Inconsistent package %1 in %2; expected %3"_s.arg(apks[i].package, paths[i], package)));
            return 1;
        }

    // An injected failure answers exactly once, in Android's words.
    QString injected;
    context.state.update([&](QJsonObject& state) {
        QJsonObject faults = state.value(u"faults"_s).toObject();
        injected = faults.take(u"nextInstallFailure"_s).toString();
        state.insert(u"faults"_s, faults);
        return !injected.isEmpty();
    });
    if (!injected.isEmpty()) {
        const qsizetype colon = injected.indexOf(u':');
        const QString code = colon < 0 ? injected : injected.left(colon).trimmed();
        QString message = colon < 0 ? QString() : injected.mid(colon + 1).trimmed();
        if (message.isEmpty() && code == u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s)
            message =
                u"Package %1 signatures do not match previously installed version; ignoring!"_s.arg(package);
        context.out(failure(code, message));
        return 1;
    }

    const int api = context.runtime().value(u"api"_s).toInt();
    if (api > 0 && base.minSdk > api) {
        context.out(
            failure(u"INSTALL_FAILED_OLDER_SDK"_s,
                    u"Failed parse during installPackageLI: /data/app/vmdl%1.tmp/base.apk: Requires newer "
                    u"sdk version #%2 (current version is #%3)"_s.arg(QDateTime::currentSecsSinceEpoch())
                        .arg(base.minSdk)
                        .arg(api)));
        return 1;
    }
    const QJsonObject existing = before.value(u"packages"_s).toObject().value(package).toObject();
    if (!existing.isEmpty() && existing.value(u"signer"_s).toString() != base.signer) {
        context.out(failure(
            u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s,
            u"Package %1 signatures do not match previously installed version; ignoring!"_s.arg(package)));
        return 1;
    }
    if (!existing.isEmpty() && !allowDowngrade &&
        existing.value(u"versionCode"_s).toInteger() > base.versionCode) {
        context.out(failure(
            u"INSTALL_FAILED_VERSION_DOWNGRADE"_s,
            u"Downgrade detected: Update version code %1 is older than current %2"_s.arg(base.versionCode)
                .arg(existing.value(u"versionCode"_s).toInteger())));
        return 1;
    }

    // Copy into a new code folder first; the state switches over only once the copy is whole.
    const QString codePath = u"/data/app/~~%1/%2-%3"_s.arg(randomToken(), package, randomToken());
    QDir().mkpath(codePath + u"/lib/x86_64"_s);
    QJsonArray installedApks;
    for (qsizetype i = 0; i < apks.size(); ++i) {
        const QString target = codePath + u'/' + (i == 0 ? u"base.apk"_s : splitFileName(apks[i], paths[i]));
        if (!QFile::copy(paths[i], target)) {
            QDir(codePath).removeRecursively();
            context.out(failure(u"INSTALL_FAILED_INSUFFICIENT_STORAGE"_s, u"Failed to copy "_s + paths[i]));
            return 1;
        }
        installedApks.append(target);
    }

    QString oldCodePath;
    int uid = 0;
    context.state.update([&](QJsonObject& state) {
        QJsonObject packages = state.value(u"packages"_s).toObject();
        QJsonObject record = packages.value(package).toObject();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (record.isEmpty()) {
            uid = state.value(u"nextUid"_s).toInt(firstApplicationUid + 100);
            state.insert(u"nextUid"_s, uid + 1);
            record.insert(u"uid"_s, uid);
            record.insert(u"firstInstallTime"_s, now);
        } else {
            uid = record.value(u"uid"_s).toInt();
            oldCodePath = record.value(u"codePath"_s).toString();
        }
        record.insert(u"codePath"_s, codePath);
        record.insert(u"apks"_s, installedApks);
        record.insert(u"versionCode"_s, base.versionCode);
        record.insert(u"versionName"_s, base.versionName);
        record.insert(u"signer"_s, base.signer);
        record.insert(u"minSdk"_s, base.minSdk);
        record.insert(u"targetSdk"_s, base.targetSdk);
        record.insert(u"launcher"_s, base.launcherActivity);
        QJsonArray shareTargets;
        for (const ApkFacts::ShareTarget& target : base.shareTargets)
            shareTargets.append(QJsonObject{{u"component"_s, target.component},
                                            {u"mimeTypes"_s, QJsonArray::fromStringList(target.mimeTypes)}});
        record.insert(u"share"_s, shareTargets);
        record.insert(u"lastUpdateTime"_s, now);
        packages.insert(package, record);
        state.insert(u"packages"_s, packages);
        // Replacing an app stops it, as Android does.
        if (!oldCodePath.isEmpty()) DeviceFacts::forceStop(state, package);
        return true;
    });
    if (!oldCodePath.isEmpty() && oldCodePath != codePath) {
        QDir(oldCodePath).removeRecursively();
        QDir(QFileInfo(oldCodePath).path()).rmdir(u"."_s);
        QDir().rmdir(QFileInfo(oldCodePath).path());
    }
    const QString data = u"/data/data/"_s + package;
    if (!QFileInfo::exists(data)) {
        makeFolder(data, 0700, uid, uid);
        for (const char* cache : {"cache", "code_cache"})
            makeFolder(data + u'/' + QLatin1StringView(cache), 02771, uid, uid + 10000);
    }
    QFile::remove(data + u"/lib"_s);
    QFile::link(codePath + u"/lib/x86_64"_s, data + u"/lib"_s);
    setOwner(data + u"/lib"_s, 1000, 1000);
    context.record(u"install"_s, QJsonObject{{u"package"_s, package}, {u"apks"_s, installedApks.size()}});
    context.out(u"Success\n"_s);
    return 0;
}

int uninstall(DeviceContext& context, const QStringList& arguments) {
    const QString package = DeviceFacts::packageArgument(arguments);
    if (package.isEmpty()) {
        context.err(u"Error: package name not specified\n"_s);
        return 1;
    }
    QJsonObject removed;
    context.state.update([&](QJsonObject& state) {
        QJsonObject packages = state.value(u"packages"_s).toObject();
        removed = packages.take(package).toObject();
        if (removed.isEmpty()) return false;
        DeviceFacts::forceStop(state, package);
        state.insert(u"packages"_s, packages);
        return true;
    });
    if (removed.isEmpty()) {
        context.out(u"Failure [DELETE_FAILED_INTERNAL_ERROR]\n"_s);
        return 1;
    }
    const QString codePath = removed.value(u"codePath"_s).toString();
    QDir(codePath).removeRecursively();
    QDir().rmdir(QFileInfo(codePath).path());
    for (const QString& folder :
         {u"/data/data/"_s, u"/data/media/0/Android/data/"_s, u"/data/media/0/Android/obb/"_s})
        QDir(folder + package).removeRecursively();
    context.record(u"uninstall"_s, QJsonObject{{u"package"_s, package}});
    context.out(u"Success\n"_s);
    return 0;
}

int listPackages(DeviceContext& context, const QStringList& arguments) {
    bool thirdParty = false, system = false, withPath = false, withUid = false, withVersion = false;
    QString filter;
    for (const QString& argument : arguments) {
        if (argument == u"-3"_s)
            thirdParty = true;
        else if (argument == u"-s"_s)
            system = true;
        else if (argument == u"-f"_s)
            withPath = true;
        else if (argument == u"-U"_s)
            withUid = true;
        else if (argument == u"--show-versioncode"_s)
            withVersion = true;
        else if (!argument.startsWith(u'-'))
            filter = argument;
    }
    const QJsonObject packages = context.state.read().value(u"packages"_s).toObject();
    QString text;
    // Android's order: the code path, the name, the version code, the user id.
    auto add = [&](const QString& package, const QString& apk, qint64 versionCode, int uid) {
        if (!filter.isEmpty() && !package.contains(filter)) return;
        text += u"package:"_s + (withPath ? apk + u'=' : QString()) + package +
                (withVersion ? u" versionCode:%1"_s.arg(versionCode) : QString()) +
                (withUid ? u" uid:%1"_s.arg(uid) : QString()) + u'\n';
    };
    const int api = context.runtime().value(u"api"_s).toInt(35); // system apps carry the SDK level
    if (!thirdParty)
        for (const QString& package : DeviceFacts::systemPackages())
            add(package, u"/system/priv-app/%1/%1.apk"_s.arg(package.section(u'.', -1)), api, 1000);
    if (!system)
        for (auto it = packages.begin(); it != packages.end(); ++it) {
            const QJsonObject record = it.value().toObject();
            add(it.key(), record.value(u"apks"_s).toArray().first().toString(),
                record.value(u"versionCode"_s).toInteger(), record.value(u"uid"_s).toInt());
        }
    context.out(text);
    return 0;
}

int path(DeviceContext& context, const QStringList& arguments) {
    const QString package = arguments.value(0);
    if (DeviceFacts::systemPackages().contains(package)) {
        context.out(u"package:/system/priv-app/%1/%1.apk\n"_s.arg(package.section(u'.', -1)));
        return 0;
    }
    const QJsonObject record = context.state.read().value(u"packages"_s).toObject().value(package).toObject();
    if (record.isEmpty()) return 1;
    for (const QJsonValue& apk : record.value(u"apks"_s).toArray())
        context.out(u"package:"_s + apk.toString() + u'\n');
    return 0;
}

int resolveActivity(DeviceContext& context, const QStringList& arguments) {
    QString package;
    for (const QString& argument : arguments)
        if (!argument.startsWith(u'-')) package = argument;
    const QJsonObject packages = context.state.read().value(u"packages"_s).toObject();
    QString activity = packages.value(package).toObject().value(u"launcher"_s).toString();
    if (package == u"com.android.launcher3"_s) activity = QLatin1StringView(DeviceFacts::launcherActivity);
    if (activity.isEmpty()) {
        context.out(u"No activity found\n"_s);
        return 0;
    }
    context.out(u"priority=0 preferredOrder=0 match=0x108000 specificIndex=-1 isDefault=false\n"_s +
                activity + u'\n');
    return 0;
}

int clear(DeviceContext& context, const QStringList& arguments) {
    const QString package = arguments.value(0);
    if (!context.state.read().value(u"packages"_s).toObject().contains(package)) {
        context.out(u"Failed\n"_s);
        return 1;
    }
    QDir data(u"/data/data/"_s + package);
    for (const QFileInfo& entry :
         data.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System)) {
        if (entry.fileName() == u"lib"_s) continue;
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
    context.out(u"Success\n"_s);
    return 0;
}

} // namespace

int pmCommand(DeviceContext& context, const QStringList& arguments) {
    const QString verb = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (verb.isEmpty()) {
        context.err(u"usage: pm [list|path|install|uninstall|clear|resolve-activity] ...\n"_s);
        return 1;
    }
    if (!DeviceFacts::packageServiceUp(context.state.read())) {
        context.err(QLatin1StringView(serviceDown));
        return 1;
    }
    if (verb == u"list"_s && rest.value(0) == u"packages"_s) return listPackages(context, rest.mid(1));
    if (verb == u"path"_s) return path(context, rest);
    if (verb == u"install"_s || verb == u"install-multiple"_s) return install(context, rest);
    if (verb == u"install-create"_s || verb == u"install-write"_s || verb == u"install-commit"_s ||
        verb == u"install-abandon"_s)
        return installSession(context, verb, rest);
    if (verb == u"uninstall"_s) return uninstall(context, rest);
    if (verb == u"clear"_s) return clear(context, rest);
    if (verb == u"resolve-activity"_s) return resolveActivity(context, rest);
    if (verb == u"dump"_s) return dumpsysCommand(context, QStringList{u"package"_s} + rest);
    context.err(u"Unknown command: "_s + verb + u'\n');
    return 1;
}

namespace DeviceFacts {

const QStringList& systemPackages() {
    static const QStringList names{u"android"_s,
                                   u"com.android.launcher3"_s,
                                   u"com.android.providers.media"_s,
                                   u"com.android.providers.settings"_s,
                                   u"com.android.settings"_s,
                                   u"com.android.shell"_s,
                                   u"com.android.systemui"_s};
    return names;
}

bool packageServiceUp(const QJsonObject& state) {
    return !state.value(u"faults"_s).toObject().value(u"packageServiceMissing"_s).toBool();
}

QString packageOf(const QString& component) {
    return component.section(u'/', 0, 0);
}

QString packageArgument(const QStringList& arguments) {
    QString package;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == u"--user"_s)
            ++i;
        else if (!arguments[i].startsWith(u'-'))
            package = arguments[i];
    }
    return package;
}

void forceStop(QJsonObject& state, const QString& package) {
    if (packageOf(state.value(u"resumed"_s).toString()) == package)
        state.insert(u"resumed"_s, QLatin1StringView(launcherActivity));
    for (const char* list : {"notifications", "mediaSessions"}) {
        QJsonArray kept;
        for (const QJsonValue& item : state.value(QLatin1StringView(list)).toArray())
            if (item.toObject().value(u"package"_s).toString() != package) kept.append(item);
        state.insert(QLatin1StringView(list), kept);
    }
}

QString stateNightMode(const QJsonObject& state) {
    return state.value(u"nightMode"_s).toString(u"no"_s);
}

} // namespace DeviceFacts
