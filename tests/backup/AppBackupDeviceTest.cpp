// Backups and restores against the simulated Android, through the real root scripts, as one walk
// over one device: the library's flow (status line, window, notification), round trips that keep
// contents, owners, modes and the lib link, a restore that fails midway, hostile backups that
// change nothing, another Android version, and ending only Vantle's own emulator.
#include "BackupFixtures.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "datacare/AppBackup.h"
#include "datacare/BackupArchive.h"
#include "datacare/BackupFlow.h"
#include "runtime/EmulatorProcesses.h"
#include "sim/SimControl.h"
#include "support/DeviceFiles.h"
#include "support/SimulatedAndroid.h"

#include <QProcess>
#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;
using Type = ArchiveEntry::Type;

namespace {

const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");
const QString weatherApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/weather.apk");
const QString notes = u"org.vantle.sim.notes"_s, weather = u"org.vantle.sim.weather"_s;

QString shell(const QString& command) {
    return AndroidRuntimeCLI::runADB({u"shell"_s, command}).value_or(QString());
}
QString root(const QString& script) {
    return shell(AppBackup::rootCommand(script));
}
int uidOf(const QString& package) {
    return root(u"stat -c %u /data/data/"_s + package).trimmed().toInt();
}
void install(const QStringList& apks) {
    const QString verb = apks.size() == 1 ? u"install"_s : u"install-multiple"_s;
    ASSERT_TRUE(AndroidRuntimeCLI::runADB(QStringList{verb, u"-r"_s} + apks)
                    .value_or(QString())
                    .contains(u"Success"_s));
}

// Files as the app itself leaves them: its own user id, private modes, a link of its own, a cache,
// and files in its external folder. `text` goes through the root command's quoting.
void writeNotesData(const QString& text) {
    const QString d = u"/data/data/"_s + notes, e = u"/sdcard/Android/data/"_s + notes;
    root(u"set -e; u=$(stat -c %u "_s + d + u"); cd "_s + d +
         u"; mkdir -p files/deep shared_prefs databases; printf '%s' '"_s +
         QString(text).replace(u"'"_s, u"'\\''"_s) +
         u"' > files/note.txt; printf prefs > shared_prefs/settings.xml; head -c 70000 /dev/urandom > "
         u"databases/notes.db; printf deep > files/deep/d.txt; ln -sf files/note.txt current; chown -R "
         u"$u:$u files shared_prefs databases current; chmod 771 files shared_prefs databases; chmod 600 "
         u"files/note.txt databases/notes.db; chmod 660 shared_prefs/settings.xml; echo junk > cache/tmp; "
         u"mkdir -p "_s +
         e + u"/files; printf external > "_s + e + u"/files/ext.txt"_s);
}

// Every entry of the app's folder with owner, group, mode and type, the app's own user id and cache
// group written as U and C, so that a reinstall under a new id compares equal; then its external files.
QString listing(const QString& package) {
    const int uid = uidOf(package);
    QString text =
        root(u"cd /data/data/"_s + package + u" && find . ! -name . ! -path ./lib -exec stat -c "_s +
             u"'%n %u:%g %a %F' {} + | sort && find . -type f -exec md5sum {} + | sort; find "_s +
             u"/sdcard/Android/data/"_s + package + u" -type f -exec md5sum {} + 2>/dev/null | sort"_s);
    return text.replace(u" %1:%2 "_s.arg(uid).arg(uid + 10000), u" U:C "_s)
        .replace(u" %1:%1 "_s.arg(uid), u" U:U "_s);
}
// The listing without the file the app left in its cache, which a backup leaves out.
QString withoutCacheFile(QString listing) {
    return listing.remove(QRegularExpression(u"[^\n]*\\./cache/tmp[^\n]*\n"_s));
}
// The lib link leads to the installed code's native folder.
void expectLibLink(const QString& package) {
    const QString base = shell(u"pm path "_s + package).section(u'\n', 0, 0).trimmed().mid(8);
    EXPECT_EQ(root(u"readlink /data/data/"_s + package + u"/lib"_s).trimmed(),
              QFileInfo(base).path() + u"/lib/x86_64"_s);
    EXPECT_EQ(root(u"[ -d /data/data/"_s + package + u"/lib/ ] && echo ok"_s).trimmed(), u"ok"_s);
}
QString restored(const QString& file) {
    const AppBackup::RestoreResult result = AppBackup::restore(file);
    return result.outcome.isDone() ? result.package.value_or(u"?"_s) : result.outcome.message;
}

TEST(AppBackupDeviceTest, BackupsRestoreWholeAndHostileOnesChangeNothing) {
    ScopedSettings settings;
    SimulatedAndroidHome android;
    // The library's flow, reporting to a store and recording what it asks of the application.
    std::unique_ptr<BackupFlow> flow;
    AppLibraryStore::Seams storeSeams;
    storeSeams.restoreBackup = [&](const QString& path) { flow->restoreBackup(path); };
    AppLibraryStore store(storeSeams);
    QStringList statuses, events;
    QObject::connect(&store, &AppLibraryStore::statusMessageChanged, &store,
                     [&] { statuses.append(store.statusMessage()); });
    const MobileApp app{
        QUuid::createUuid(), u"Weather"_s, MobilePlatform::android, weatherApk, weather, {}, false};
    BackupFlow::Seams seams;
    seams.closeWindow = [&](const QUuid& id, const QString& why) {
        events.append((id == app.id ? u"close "_s : u"close other "_s) + why);
    };
    seams.syncInstalledApps = [&] { events.append(u"sync"_s); };
    seams.notify = [&](const QString& title, const QString& subtitle, const QString& body,
                       const QString& file) {
        events.append(QStringList{u"notify"_s, title, subtitle, body, QFileInfo(file).suffix()}.join(u'|'));
    };
    QString saved;
    seams.reveal = [&](const QString& path) {
        saved = path;
        events.append(u"reveal "_s + path);
    };
    flow = std::make_unique<BackupFlow>(store, seams);
    store.setApps({app});
    const auto flowEnded = [&] { return waitUntil([&] { return flow->running() == 0; }, 120'000); };
    {
        SCOPED_TRACE("the library's backup and restore of an app without external data");
        MobileApp unknown = app;
        unknown.bundleIdentifier.reset();
        unknown.sourcePath = u"/nowhere/never-installed.apk"_s;
        flow->backup(unknown);
        EXPECT_EQ(statuses.takeLast(), u"Open Weather once first"_s);
        EXPECT_EQ(flow->running(), 0);
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        install({weatherApk});
        root(u"cd /data/data/"_s + weather + u" && mkdir -p files && printf sunny > files/forecast.txt"_s);
        flow->backup(app);
        ASSERT_TRUE(flowEnded());
        EXPECT_EQ(statuses, (QStringList{u"Backing up Weather…"_s, u"Backed up Weather"_s}));
        EXPECT_TRUE(saved.startsWith(AppBackup::folder() + u"/Weather "_s)) << qPrintable(saved);
        EXPECT_EQ(events, (QStringList{u"close backup"_s,
                                       u"notify|Backup saved|Weather|Documents › Vantle Backups|vantle"_s,
                                       u"reveal "_s + saved}));
        QTemporaryDir unpacked;
        ASSERT_EQ(BackupArchive::read(saved, unpacked.path()), QString());
        EXPECT_EQ(QDir(unpacked.path()).entryList(QDir::Files, QDir::Name),
                  (QStringList{u"base.apk"_s, u"data.tgz"_s, u"info.json"_s}));
        EXPECT_TRUE(readFile(unpacked.filePath(u"info.json"_s)).contains("\"format\": 1"));
        root(u"rm /data/data/"_s + weather + u"/files/forecast.txt"_s);
        statuses.clear();
        events.clear();
        store.addFiles({QUrl::fromLocalFile(saved)}); // a dropped backup file restores
        ASSERT_TRUE(flowEnded());
        EXPECT_EQ(statuses, (QStringList{u"Restoring "_s + QFileInfo(saved).completeBaseName() + u"…"_s,
                                         u"Restoring "_s + QFileInfo(saved).fileName() + u"…"_s,
                                         u"Restored "_s + weather}));
        EXPECT_EQ(events, (QStringList{u"close restore"_s, u"sync"_s,
                                       u"notify|App restored|"_s + weather + u"|Its data is back|"_s}));
        EXPECT_EQ(root(u"cat /data/data/"_s + weather + u"/files/forecast.txt"_s), u"sunny"_s);
        EXPECT_EQ(root(u"[ -e /sdcard/Android/data/"_s + weather + u" ] || echo none"_s).trimmed(),
                  u"none"_s);
    }

    install({notesApk, QStringLiteral(VANTLE_BACKUP_TEST_DATA "/notes_split.apk")});
    writeNotesData(u"it's mine"_s);
    const QString before = listing(notes), weatherBefore = listing(weather);
    ASSERT_TRUE(before.contains(u"./files/note.txt U:U 600 regular file"_s)) << qPrintable(before);
    ASSERT_TRUE(before.contains(u"./cache U:C 2771 directory"_s)) << qPrintable(before);
    ASSERT_TRUE(before.contains(u"/sdcard/Android/data/"_s + notes + u"/files/ext.txt"_s));
    const AppBackup::Outcome backup = AppBackup::backup(notes, u"Notes"_s);
    ASSERT_TRUE(backup.isDone()) << qPrintable(backup.message);
    const QString file = backup.file;
    {
        SCOPED_TRACE("backup, uninstall, restore");
        const int oldUid = uidOf(notes);
        ASSERT_TRUE(
            AndroidRuntimeCLI::runADB({u"uninstall"_s, notes}).value_or(QString()).contains(u"Success"_s));
        install({weatherApk}); // the next id goes to another app, so the restored one gets a new id
        ASSERT_EQ(restored(file), notes);
        EXPECT_NE(uidOf(notes), oldUid);
        EXPECT_NE(uidOf(notes), uidOf(weather));
        // The cache's contents stay behind; its folder comes back empty, as the installer makes it.
        EXPECT_EQ(listing(notes), withoutCacheFile(before));
        expectLibLink(notes);
        EXPECT_EQ(shell(u"pm path "_s + notes).count(u"package:"_s), 2) << "the split APK came back too";
        EXPECT_EQ(listing(weather), weatherBefore);
        EXPECT_EQ(root(u"ls /data/local/tmp"_s).trimmed(), QString()) << "the device's work folders stay";
    }
    {
        SCOPED_TRACE("a restore that fails midway");
        writeNotesData(u"current"_s);
        const QString current = listing(notes);
        ASSERT_EQ(SimControl(Locations::runtime(), 35).setFault(u"nextRestoreconFailure"_s, true), QString());
        const QString message = restored(file);
        EXPECT_TRUE(message.startsWith(u"Could not put the data back: "_s)) << qPrintable(message);
        EXPECT_TRUE(message.contains(u"Operation not permitted"_s)) << qPrintable(message);
        EXPECT_EQ(listing(notes), current);
        expectLibLink(notes);
        EXPECT_FALSE(root(u"ls -A /data/local/tmp /sdcard/Android/data"_s).contains(u"vt-"_s));
    }
    {
        SCOPED_TRACE("hostile backups"); // ZIP entries that leave their folder: BackupArchiveTest
        const QString notesBefore = listing(notes);
        const QString marker = u"/data/local/tmp/pwned"_s, bad = u"org.x;touch "_s + marker;
        QTemporaryDir folder;
        const QString work = folder.filePath(u"made.tgz"_s), hostile = folder.filePath(u"hostile.vantle"_s);
        const auto tgz = [&](const QString& name, const QList<ArchiveEntry>& entries) {
            QFile::remove(work);
            EXPECT_TRUE(writeArchive(work, ArchiveFormat::tgz, entries));
            return ArchiveEntry{name, readFile(work)};
        };
        const ArchiveEntry info{u"info.json"_s, infoJson(notes)}, base{u"base.apk"_s, readFile(notesApk)};
        const ArchiveEntry top{notes + u"/"_s, {}, Type::folder};
        const QList<std::pair<const char*, QList<ArchiveEntry>>> cases{
            {"shell characters in the package",
             {{u"info.json"_s, infoJson(bad)}, base, tgz(u"data.tgz"_s, {{bad + u"/"_s, {}, Type::folder}})}},
            {"a tar entry for another package",
             {info, base, tgz(u"data.tgz"_s, {top, {weather + u"/files/forecast.txt"_s, "rain"}})}},
            {"an external link",
             {info, base, tgz(u"data.tgz"_s, {top}),
              tgz(u"external.tgz"_s, {{notes + u"/x"_s, {}, Type::symlink, u"/data"_s}})}},
            {"no info.json", {base, tgz(u"data.tgz"_s, {top})}},
            {"no data.tgz", {info, base}},
        };
        const qsizetype eventsBefore = SimControl(Locations::runtime(), 35).received().size();
        for (const auto& [what, entries] : cases) {
            QFile::remove(hostile);
            ASSERT_TRUE(writeArchive(hostile, ArchiveFormat::zip, entries)) << what;
            EXPECT_EQ(restored(hostile), u"This is not a Vantle backup"_s) << what;
        }
        EXPECT_EQ(SimControl(Locations::runtime(), 35).received().size(), eventsBefore)
            << "nothing was installed";
        EXPECT_EQ(root(u"[ -e "_s + marker + u" ] && echo planted"_s), QString());
        EXPECT_EQ(listing(notes), notesBefore);
        EXPECT_EQ(listing(weather), weatherBefore);
        // Through the library: the status line and the log say so, and nothing is synced.
        ASSERT_TRUE(writeFile(hostile, "just some text\n")); // not a ZIP archive at all
        const MainLogSince log;
        events.clear();
        flow->restoreBackup(hostile);
        ASSERT_TRUE(flowEnded());
        EXPECT_EQ(statuses.last(), u"This is not a Vantle backup"_s);
        EXPECT_EQ(log.count(u"restore failed: This is not a Vantle backup"_s), 1);
        EXPECT_EQ(events, QStringList());
    }
    {
        SCOPED_TRACE("another Android version beside another home's emulator, then over the installed app");
        // Another home's Vantle with the same virtual device name, on the next console port.
        QTemporaryDir otherHome;
        AndroidRuntimePaths other;
        {
            const ScopedEnvironment home("VANTLE_HOME", otherHome.path());
            ASSERT_EQ(SimulatedAndroidHome::install(35), QString());
            other = AndroidRuntimePaths::current();
        }
        QProcess otherEmulator;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"ANDROID_SDK_ROOT"_s, other.sdkRoot);
        environment.insert(u"ANDROID_AVD_HOME"_s, *other.avdHome);
        otherEmulator.setProcessEnvironment(environment);
        otherEmulator.start(other.emulator(), {u'@' + other.avdName, u"-port"_s, u"5558"_s, u"-no-window"_s});
        ASSERT_TRUE(otherEmulator.waitForStarted());
        ASSERT_EQ(SimulatedAndroidHome::install(34), QString());
        VantleSettings::set(SettingsKeys::androidAPI, qint64(34));
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        ASSERT_EQ(AndroidRuntimeCLI::runningAPI(), 34);
        install({weatherApk});
        ASSERT_EQ(restored(file), notes);
        EXPECT_EQ(listing(notes), withoutCacheFile(before));
        expectLibLink(notes);
        writeNotesData(u"changed"_s); // its newer data are replaced by the backup's
        ASSERT_EQ(restored(file), notes);
        EXPECT_EQ(root(u"cat /data/data/"_s + notes + u"/files/note.txt"_s), u"it's mine"_s);

        EXPECT_EQ(AndroidRuntimeCLI::endOwnEmulator(), 1);
        EXPECT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10'000));
        EXPECT_FALSE(otherEmulator.waitForFinished(500)) << "the other home's emulator was ended";
        EXPECT_EQ(otherEmulator.state(), QProcess::Running)
            << otherEmulator.readAllStandardError().constData();
        otherEmulator.terminate();
        otherEmulator.waitForFinished(10'000);
    }
    // An Android version that is not installed cannot start.
    VantleSettings::set(SettingsKeys::androidAPI, qint64(30));
    flow->backup(app);
    ASSERT_TRUE(flowEnded());
    EXPECT_EQ(statuses.last(), u"Android could not start"_s);
}

} // namespace
