#include "datacare/AppBackup.h"

#include "core/VantleLog.h"
#include "datacare/BackupArchive.h"
#include "platform/Locations.h"
#include "platform/PrivateFolder.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using AndroidRuntimeCLI::runADB;

namespace AppBackup {

namespace {

// A folder on this computer for one run, removed with everything in it when the run ends.
struct WorkFolder {
    QString path;
    bool made = false;
    explicit WorkFolder(const QString& prefix)
        : path(QDir::tempPath() + u'/' + prefix + QUuid::createUuid().toString(QUuid::WithoutBraces))
        , made(ensurePrivateFolder(path)) {}
    ~WorkFolder() {
        if (!path.isEmpty()) QDir(path).removeRecursively();
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    QString file(const QString& name) const { return path + u'/' + name; }
};

QString shell(const QString& command) {
    return runADB({u"shell"_s, command}).value_or(QString());
}

QString asRoot(const QString& script) {
    return shell(rootCommand(script));
}

// The APK paths "pm path" lists, in its order.
QStringList apkPaths(const QString& package) {
    QStringList paths;
    for (const QString& line : shell(u"pm path "_s + package).split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u"package:"_s)) paths.append(trimmed.mid(8));
    }
    return paths;
}

void writeInfo(const QString& path, const QString& package, const QString& name) {
    const QJsonObject info{{u"package"_s, package},
                           {u"name"_s, name},
                           {u"created"_s, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                           {u"format"_s, 1}};
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(QJsonDocument(info).toJson(QJsonDocument::Indented));
}

// The package named by info.json, when it is a name Android accepts: only such a name may go into
// a device command.
std::optional<QString> packageOf(const QString& infoPath) {
    QFile file(infoPath);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(BackupArchive::maxInfoBytes));
    const QJsonValue package = document.object().value(u"package"_s);
    if (!document.isObject() || !package.isString()) return std::nullopt;
    return package.toString();
}

QString trimmedOutput(const std::optional<QString>& output) {
    return output.value_or(QString()).trimmed();
}

Outcome installApks(const QStringList& apks) {
    const QStringList arguments = apks.size() == 1 ? QStringList{u"install"_s, u"-r"_s, apks.first()}
                                                   : QStringList{u"install-multiple"_s, u"-r"_s} + apks;
    const std::optional<QString> output = runADB(arguments);
    if (output.value_or(QString()).contains(u"Success"_s)) return Outcome::done({});
    return Outcome::failed(u"Could not install the app: "_s + trimmedOutput(output).left(100));
}

} // namespace

QString folder() {
    return Locations::backups();
}

QString fileName(const QString& name, const QDateTime& at, int copy) {
    QString stem = QString(name).replace(u'/', u'-') + u' ' + at.toString(u"yyyy-MM-dd 'at' HH.mm.ss"_s);
    if (copy > 1) stem += u' ' + QString::number(copy);
    return stem + u".vantle"_s;
}

QString saveBackupFile(const QString& work, const QString& name, const QDateTime& at) {
    QDir().mkpath(folder());
    for (int copy = 1; copy < 1000; ++copy) {
        const QString path = folder() + u'/' + fileName(name, at, copy);
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) continue;
        const QString error = BackupArchive::write(work, path);
        if (error.isEmpty()) return path;
        if (QFileInfo::exists(path)) continue; // another backup took the name meanwhile
        VantleLog::main().write(u"backup file not written: "_s + VantleLog::escaped(error));
        return {};
    }
    return {};
}

QString rootCommand(const QString& script) {
    return u"su 0 sh -c '"_s + QString(script).replace(u"'"_s, u"'\\''"_s) + u'\'';
}

QString restoreScript(const QString& p) {
    const QString data = u"/data/data/"_s + p;
    const QString d = u"/data/local/tmp/vt-restore-"_s + p;
    const QString aside = d + u"/previous"_s;
    // The external folder is moved aside within its own file system, where a move is a rename.
    const QString external = u"/sdcard/Android/data/"_s + p;
    const QString externalAside = u"/sdcard/Android/data/.vt-previous-"_s + p;
    const QString clear = u"find "_s + data + u" -mindepth 1 -maxdepth 1 ! -name lib -exec rm -rf {} +"_s;
    return QStringList{
        u"set -e"_s,
        // What a failing step says ends the output, which the user is shown.
        u"exec 2>&1"_s, u"uid=$(stat -c %u "_s + data + u')', u"ok=0; stage=moving"_s,
        // Puts the previous data back: what a failed step left goes first, unless the failure came
        // while the data were still being moved aside (then nothing new is there yet).
        u"putback() { if [ \"$stage\" = new ]; then "_s + clear + u"; fi; find "_s + aside +
            u" -mindepth 1 -maxdepth 1 -exec mv {} "_s + data + u"/ \\;; if [ -e "_s + externalAside +
            u" ]; then rm -rf "_s + external + u"; mv "_s + externalAside + u' ' + external +
            u"; fi; restorecon -RF "_s + data + u"; }"_s,
        // Discards the previous data only after success; after a failure the aside folder goes only
        // when the put-back emptied it.
        u"trap 'set +e; if [ \"$ok\" = 1 ]; then rm -rf "_s + externalAside + u' ' + d +
            u"; else putback; rmdir "_s + aside + u" && rm -rf "_s + d + u"; fi' EXIT"_s,
        u"rm -rf "_s + aside + u' ' + externalAside + u"; mkdir -p "_s + aside,
        u"find "_s + data + u" -mindepth 1 -maxdepth 1 ! -name lib -exec mv {} "_s + aside + u"/ \\;"_s,
        u"stage=new"_s,
        // The installed app's lib link stays: the archived one names the old install's code folder.
        u"tar -xzf "_s + d + u"/data.tgz -C /data/data --exclude="_s + p + u"/lib"_s,
        u"chown -R $uid:$uid "_s + data,
        u"for d in cache code_cache; do mkdir -p "_s + data + u"/$d; chown $uid:$((uid + 10000)) "_s + data +
            u"/$d; chmod 2771 "_s + data + u"/$d; done"_s,
        u"restorecon -RF "_s + data,
        u"if [ -f "_s + d + u"/external.tgz ]; then mkdir -p /sdcard/Android/data; if [ -e "_s + external +
            u" ]; then mv "_s + external + u' ' + externalAside + u"; fi; tar -xzf "_s + d +
            u"/external.tgz -C /sdcard/Android/data; fi"_s,
        u"ok=1"_s, u"echo VT_RESTORE_OK"_s}
        .join(u'\n');
}

Outcome backup(const QString& package, const QString& name) {
    const WorkFolder work(u"vantle-backup-"_s);
    if (!work.made) return Outcome::failed(u"Could not create a folder"_s);
    // Only a name Android accepts goes into a device command.
    if (!AndroidRuntimeCLI::isValidPackageName(package))
        return Outcome::failed(name + u" is not installed in Android"_s);
    shell(u"am force-stop "_s + package);
    const QStringList apks = apkPaths(package);
    if (apks.isEmpty()) return Outcome::failed(name + u" is not installed in Android"_s);
    for (qsizetype i = 0; i < apks.size(); ++i)
        runADB({u"pull"_s, apks[i], work.file(i == 0 ? u"base.apk"_s : u"split%1.apk"_s.arg(i))});

    const QString p = package;
    const QString d = u"/data/local/tmp/vt-backup-"_s + p;
    asRoot(u"rm -rf "_s + d + u"; mkdir -p "_s + d + u" && cd /data/data && tar -czf "_s + d +
           u"/data.tgz --exclude="_s + p + u"/cache --exclude="_s + p + u"/code_cache --exclude="_s + p +
           u"/lib "_s + p);
    asRoot(u"[ -d /sdcard/Android/data/"_s + p + u" ] && cd /sdcard/Android/data && tar -czf "_s + d +
           u"/external.tgz "_s + p + u"; chmod -R a+r "_s + d);
    runADB({u"pull"_s, d + u"/data.tgz"_s, work.file(u"data.tgz"_s)});
    runADB({u"pull"_s, d + u"/external.tgz"_s, work.file(u"external.tgz"_s)}); // fails when there is none
    asRoot(u"rm -rf "_s + d);
    // A backup without the app in it would be reported saved and could never be restored.
    if (!QFileInfo::exists(work.file(u"data.tgz"_s)) || !QFileInfo::exists(work.file(u"base.apk"_s)))
        return Outcome::failed(u"Could not read "_s + name + u"'s data"_s);

    writeInfo(work.file(u"info.json"_s), package, name);
    const QString file = saveBackupFile(work.path, name, QDateTime::currentDateTime());
    if (file.isEmpty()) return Outcome::failed(u"Could not save the backup file"_s);
    VantleLog::main().write(u"backup: "_s + package + u" -> "_s + VantleLog::escaped(file));
    return Outcome::done(file);
}

RestoreResult restore(const QString& file) {
    const WorkFolder work(u"vantle-restore-"_s);
    if (!work.made) return {Outcome::failed(u"Could not create a folder"_s), std::nullopt};
    const Outcome notABackup = Outcome::failed(u"This is not a Vantle backup"_s);
    if (const QString problem = BackupArchive::read(file, work.path); !problem.isEmpty()) {
        VantleLog::main().write(u"restore refused: "_s + VantleLog::escaped(problem));
        return {notABackup, std::nullopt};
    }
    const std::optional<QString> package = packageOf(work.file(u"info.json"_s));
    if (!package) return {notABackup, std::nullopt};
    // The package goes into root scripts: a name Android would refuse is no backup of Vantle's.
    if (!AndroidRuntimeCLI::isValidPackageName(*package)) {
        VantleLog::main().write(u"restore refused: invalid package "_s + VantleLog::escaped(*package));
        return {notABackup, std::nullopt};
    }
    const QString p = *package;

    QStringList apks = QDir(work.path).entryList({u"*.apk"_s}, QDir::Files, QDir::NoSort);
    std::sort(apks.begin(), apks.end());
    if (apks.isEmpty()) return {Outcome::failed(u"The backup has no app inside"_s), package};
    for (QString& apk : apks)
        apk = work.file(apk);

    // Everything that will be unpacked as root is checked here first, before any device command.
    const QString data = work.file(u"data.tgz"_s), external = work.file(u"external.tgz"_s);
    const bool hasExternal = QFileInfo::exists(external);
    QString problem = QFileInfo::exists(data)
                          ? BackupArchive::checkTar(data, p, BackupArchive::TarScope::appData)
                          : u"no data.tgz"_s;
    if (problem.isEmpty() && hasExternal)
        problem = BackupArchive::checkTar(external, p, BackupArchive::TarScope::externalData);
    if (!problem.isEmpty()) {
        VantleLog::main().write(u"restore refused: "_s + VantleLog::escaped(problem));
        return {notABackup, package};
    }

    if (const Outcome installed = installApks(apks); !installed.isDone()) return {installed, package};
    shell(u"am force-stop "_s + p);
    const QString d = u"/data/local/tmp/vt-restore-"_s + p;
    shell(u"rm -rf "_s + d + u"; mkdir -p "_s + d);
    runADB({u"push"_s, data, d + u"/data.tgz"_s});
    if (hasExternal) runADB({u"push"_s, external, d + u"/external.tgz"_s});
    const std::optional<QString> output = runADB({u"shell"_s, rootCommand(restoreScript(p))});
    if (!output.value_or(QString()).contains(u"VT_RESTORE_OK"_s))
        return {Outcome::failed(u"Could not put the data back: "_s + trimmedOutput(output).right(120)),
                package};
    VantleLog::main().write(u"restore: "_s + p + u" from "_s +
                            VantleLog::escaped(QFileInfo(file).fileName()));
    return {Outcome::done(file), package};
}

} // namespace AppBackup
