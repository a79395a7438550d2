// Backups: what needs no device (names, the file, the checks on untrusted archives, Vantle's own
// emulator, the menus), then one walk over the simulated Android through the real root scripts.
#include "TestArchives.h"
#include "apk/AppIconStore.h"
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
#include "support/TestSupport.h"
#include "ui/AppSection.h"
#include "ui/AppTile.h"
#include "ui/MenuPanel.h"
#include "ui/RecordingLauncherActions.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using BackupArchive::EntryType;
using BackupArchive::TarScope;
using TestArchives::Entry;

namespace {

const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");
const QString weatherApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/weather.apk");
const QString notes = u"org.vantle.sim.notes"_s, weather = u"org.vantle.sim.weather"_s;
const QString& p = notes;

QByteArray infoJson(const QString& package) {
    return QStringLiteral(R"({"package": "%1", "name": "Notes", "format": 1})").arg(package).toUtf8();
}

TEST(BackupFile, IsNamedForItsAppWrittenForItsOwnerOnlyNeverOverAFileAndReadTrustingNothing) {
    QTemporaryDir home, work;
    const ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    ASSERT_TRUE(writeFile(work.filePath(u"info.json"_s), infoJson(p)));
    const QDateTime at(QDate(2026, 3, 1), QTime(14, 5, 9));
    QStringList names;
    const mode_t old = ::umask(0);
    for (const QString& name : {u"Notes"_s, u"Notes"_s, u"A/B"_s}) // within one second: names of their own
        names.append(QFileInfo(AppBackup::saveBackupFile(work.path(), name, at)).fileName());
    ::umask(old);
    EXPECT_EQ(names, (QStringList{u"Notes 2026-03-01 at 14.05.09.vantle"_s,
                                  u"Notes 2026-03-01 at 14.05.09 2.vantle"_s,
                                  u"A-B 2026-03-01 at 14.05.09.vantle"_s}));
    const QString zip = AppBackup::folder() + u'/' + names.first();
    struct stat status {};
    ASSERT_EQ(::stat(zip.toUtf8().constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_FALSE(BackupArchive::write(work.path(), zip).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(zip)) << "a refused write removed the file that was there";
    const QString out = home.filePath(u"out"_s);
    ASSERT_TRUE(QDir().mkpath(out));
    ASSERT_EQ(BackupArchive::read(zip, out), QString());
    EXPECT_EQ(readFile(out + u"/info.json"_s), infoJson(p));
    // Hostile entries are refused before anything leaves the folder.
    QTemporaryDir outside;
    const QString escape = outside.filePath(u"escaped.txt"_s);
    QList<Entry> many;
    for (int i = 0; i <= BackupArchive::maxEntries; ++i)
        many.append({u"f%1"_s.arg(i), "x"});
    const QList<std::pair<const char*, QList<Entry>>> cases{
        {"..", {{u"../escaped.txt"_s, "x"}}},
        {"absolute", {{escape, "x"}}},
        {"symlink", {{u"info.json"_s, {}, 0777, escape}}},
        {"twice", {{u"info.json"_s, "{}"}, {u"info.json"_s, "{}"}}},
        {"oversize info", {{u"info.json"_s, QByteArray(BackupArchive::maxInfoBytes + 1, ' ')}}},
        {"too many", many},
    };
    for (const auto& [what, entries] : cases) {
        QTemporaryDir folder;
        const QString hostile = folder.filePath(u"hostile.vantle"_s),
                      inner = folder.filePath(u"work/inner"_s);
        ASSERT_TRUE(writeFile(hostile, TestArchives::zip(entries)) && QDir().mkpath(inner)) << what;
        EXPECT_FALSE(BackupArchive::read(hostile, inner).isEmpty()) << what;
        EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"work/escaped.txt"_s))) << what;
        EXPECT_FALSE(QFileInfo::exists(escape)) << what;
    }
}

TEST(TarEntries, OnlyEntriesInsideThePackagesOwnFolderPassAndNothingGoesThroughALink) {
    const QString& w = weather;
    struct Case {
        QString name;
        EntryType type;
        QString target;
        bool accepted;
        TarScope scope = TarScope::appData;
    };
    using enum EntryType;
    const QList<Case> cases{
        {p + u"/"_s, folder, {}, true},
        {p + u"/files/a.txt"_s, file, {}, true},
        {p + u"/files/l"_s, symlink, u"../shared_prefs/x"_s, true},
        {p + u"/l"_s, symlink, u"/data/user/0/"_s + p, true},       // an absolute link home
        {p + u"/lib"_s, symlink, u"/data/app/~~x/lib/x86"_s, true}, // the old lib link
        {p + u"/files/h"_s, hardLink, p + u"/files/a.txt"_s, true},
        {p + u"/files/e.txt"_s, file, {}, true, TarScope::externalData},
        {w + u"/files/x"_s, file, {}, false}, // another package
        {p + u"x/files"_s, file, {}, false},  // a name that only starts like it
        {u"/data/data/"_s + p + u"/x"_s, file, {}, false},
        {p + u"/../"_s + w + u"/x"_s, file, {}, false},
        {p, file, {}, false}, // the top as a file
        {p, symlink, u"/data/data/"_s + p, false},
        {p + u"/lib/evil.so"_s, file, {}, false}, // into the lib link
        {p + u"/lib"_s, folder, {}, false},
        {p + u"/l"_s, symlink, u"../"_s + w, false},
        {p + u"/l"_s, symlink, u"/data/data/"_s + w, false},
        {p + u"/l"_s, symlink, u"lib"_s, false}, // a link to the lib link
        {p + u"/h"_s, hardLink, w + u"/x"_s, false},
        {p + u"/d"_s, device, {}, false},
        {p + u"/files/l"_s, symlink, u"e.txt"_s, false, TarScope::externalData},
        {p + u"/h"_s, hardLink, p + u"/e"_s, false, TarScope::externalData},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BackupArchive::tarEntryProblem(c.name, c.type, c.target, p, c.scope).isEmpty(), c.accepted)
            << qPrintable(c.name) << " type " << int(c.type) << " -> " << qPrintable(c.target);
    // Nothing is written through a link of the archive.
    QTemporaryDir dir;
    const QString tgz = dir.filePath(u"data.tgz"_s);
    const Entry top{p + u"/"_s};
    // The link comes after the file that goes through it: order does not matter.
    ASSERT_TRUE(
        writeFile(tgz, TestArchives::tgz({top, {p + u"/sub/x"_s, "x"}, {p + u"/sub"_s, {}, 0777, u"."_s}})));
    EXPECT_TRUE(BackupArchive::checkTar(tgz, p, TarScope::appData).contains(u"through a link"_s));
    ASSERT_TRUE(writeFile(
        tgz, TestArchives::tgz({top, {p + u"/files/a"_s, "a"}, {p + u"/files/l"_s, {}, 0777, u"a"_s}})));
    EXPECT_EQ(BackupArchive::checkTar(tgz, p, TarScope::appData), QString());
    ASSERT_TRUE(writeFile(tgz, "not gzip at all"));
    EXPECT_FALSE(BackupArchive::checkTar(tgz, p, TarScope::appData).isEmpty());
}

TEST(OwnEmulator, OnlyVantlesDeviceOnItsPortFromItsSdkCounts) {
    const AndroidRuntimePaths paths{u"/home/u/.local/share/Vantle/Runtime/sdk"_s, u"/avd"_s, u"Vantle"_s,
                                    true, 35};
    const QString qemu = paths.sdkRoot + u"/emulator/qemu/linux-x86_64/qemu-system-x86_64"_s;
    const QString launcher = paths.sdkRoot + u"/emulator/emulator"_s;
    // The executable, its arguments split at spaces, and whether it is Vantle's own.
    const QList<std::tuple<QString, QString, bool>> cases{
        {launcher, u"@Vantle -port 5556"_s, true},
        {qemu, u"-avd Vantle -port 5556 -no-window"_s, true},
        {qemu, u"-avd Vantle-34 -port 5556"_s, true}, // another Android version of Vantle
        {qemu, u"-avd Pixel_8 -port 5556"_s, false},  // the user's own device
        {qemu, u"-avd Vantle -port 5554"_s, false},
        {u"/opt/android/emulator/qemu-system-x86_64"_s, u"@Vantle -port 5556"_s, false},
        {u"/usr/bin/python3"_s, launcher + u" @Vantle -port 5556"_s, false}, // a look-alike command line
    };
    for (const auto& [executable, arguments, own] : cases)
        EXPECT_EQ(AndroidRuntimeCLI::isOwnEmulator({1, executable, arguments.split(u' ')}, paths), own)
            << qPrintable(executable) << ' ' << qPrintable(arguments);
}

TEST(BackupMenus, TileAndPanelMenusLeadToBackups) {
    ScopedSettings settings;
    AppLibraryStore store;
    RecordingLauncherActions actions;
    actions.backups = true;
    AppIconStore icons{
        [](const QUuid&, const QString&, MobilePlatform) { return std::optional<QByteArray>(); }};
    store.setApps({MobileApp{QUuid::createUuid(), u"Notes"_s, MobilePlatform::android,
                             u"/nowhere/notes.apk"_s, std::nullopt, QDateTime::currentDateTimeUtc(), false}});
    MenuPanel panel(store, actions, {[] { return true; }, {}, {}, &icons});
    store.setAndroidState(AndroidState::sleeping);
    QMenu* menu = panel.panelMenu();
    Q_EMIT menu->aboutToShow();
    EXPECT_EQ(menuTexts(*menu, u"Restore from backup…"_s),
              (QStringList{u"Restore from backup…"_s, u"Close all apps"_s, u"Quit Vantle"_s}));
    ASSERT_FALSE(panel.sections().isEmpty() || panel.sections().first()->tiles().isEmpty());
    const auto tileMenu = panel.sections().first()->tiles().first()->makeContextMenu();
    EXPECT_EQ(menuTexts(*tileMenu, u"Back up app data…"_s),
              (QStringList{u"Add to favourites"_s, u"Back up app data…"_s, u"Show APK in Files"_s,
                           u"Remove from Vantle"_s, u"Uninstall from Android…"_s}));
    EXPECT_EQ(actions.calls, (QStringList{u"chooseBackupToRestore"_s, u"backup Notes"_s}));
}

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
        SCOPED_TRACE("hostile backups"); // ZIP entries that leave their folder: BackupFile
        const QString notesBefore = listing(notes);
        const QString marker = u"/data/local/tmp/pwned"_s, bad = u"org.x;touch "_s + marker;
        QTemporaryDir folder;
        const QString hostile = folder.filePath(u"hostile.vantle"_s);
        const Entry info{u"info.json"_s, infoJson(notes)}, base{u"base.apk"_s, readFile(notesApk)};
        const Entry data{u"data.tgz"_s, TestArchives::tgz({{notes + u"/"_s}})};
        const Entry badInfo{u"info.json"_s, infoJson(bad)},
            badData{u"data.tgz"_s, TestArchives::tgz({{bad + u"/"_s}})};
        const Entry otherPackage{
            u"data.tgz"_s,
            TestArchives::tgz({{notes + u"/"_s}, {weather + u"/files/forecast.txt"_s, "rain"}})};
        const Entry externalLink{u"external.tgz"_s,
                                 TestArchives::tgz({{notes + u"/x"_s, {}, 0777, u"/data"_s}})};
        const QList<std::pair<const char*, QList<Entry>>> cases{
            {"shell characters in the package", {badInfo, base, badData}},
            {"a tar entry for another package", {info, base, otherPackage}},
            {"an external link", {info, base, data, externalLink}},
            {"no info.json", {base, data}},
            {"no data.tgz", {info, base}},
        };
        const qsizetype eventsBefore = SimControl(Locations::runtime(), 35).received().size();
        for (const auto& [what, entries] : cases) {
            ASSERT_TRUE(writeFile(hostile, TestArchives::zip(entries))) << what;
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
