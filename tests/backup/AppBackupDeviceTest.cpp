// Backups and restores against the simulated Android, through the real root scripts, as one walk
// over one device: round trips that must keep contents, owners, modes and the lib link, a restore
// that fails midway, hostile backups that must change nothing, and another Android version.
#include "BackupFixtures.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "datacare/AppBackup.h"
#include "datacare/BackupArchive.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimControl.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
QString withoutCacheFile(const QString& listing) {
    QStringList kept = listing.split(u'\n');
    kept.removeIf([](const QString& line) { return line.contains(u"./cache/tmp"_s); });
    return kept.join(u'\n');
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
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    ASSERT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    install({notesApk, QStringLiteral(VANTLE_BACKUP_TEST_DATA "/notes_split.apk")});
    install({weatherApk});
    root(u"cd /data/data/"_s + weather + u" && mkdir -p files && printf sunny > files/forecast.txt"_s);
    {
        SCOPED_TRACE("an app without external data");
        const AppBackup::Outcome outcome = AppBackup::backup(weather, u"Weather"_s);
        ASSERT_TRUE(outcome.isDone()) << qPrintable(outcome.message);
        QTemporaryDir unpacked;
        ASSERT_EQ(BackupArchive::read(outcome.file, unpacked.path()), QString());
        EXPECT_EQ(QDir(unpacked.path()).entryList(QDir::Files, QDir::Name),
                  (QStringList{u"base.apk"_s, u"data.tgz"_s, u"info.json"_s}));
        const QJsonObject json =
            QJsonDocument::fromJson(readFile(unpacked.filePath(u"info.json"_s))).object();
        EXPECT_EQ(json.value(u"package"_s).toString(), weather);
        EXPECT_EQ(json.value(u"format"_s).toInt(), 1);
        root(u"rm /data/data/"_s + weather + u"/files/forecast.txt"_s);
        ASSERT_EQ(restored(outcome.file), weather);
        EXPECT_EQ(root(u"cat /data/data/"_s + weather + u"/files/forecast.txt"_s), u"sunny"_s);
        EXPECT_EQ(root(u"[ -e /sdcard/Android/data/"_s + weather + u" ] || echo none"_s).trimmed(),
                  u"none"_s);
    }

    writeNotesData(u"it's mine"_s);
    const QString before = listing(notes), weatherBefore = listing(weather);
    ASSERT_TRUE(before.contains(u"./files/note.txt U:U 600 regular file"_s)) << qPrintable(before);
    ASSERT_TRUE(before.contains(u"./cache U:C 2771 directory"_s)) << qPrintable(before);
    ASSERT_TRUE(before.contains(u"/sdcard/Android/data/"_s + notes + u"/files/ext.txt"_s))
        << qPrintable(before);
    const AppBackup::Outcome backup = AppBackup::backup(notes, u"Notes"_s);
    ASSERT_TRUE(backup.isDone()) << qPrintable(backup.message);
    const QString file = backup.file;
    EXPECT_TRUE(file.startsWith(AppBackup::folder() + u"/Notes "_s));
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
        SCOPED_TRACE("hostile backups");
        const QString notesBefore = listing(notes);
        const QString marker = u"/data/local/tmp/pwned"_s, bad = u"org.x;touch "_s + marker;
        QTemporaryDir folder, outside;
        const QString planted = outside.filePath(u"planted"_s), work = folder.filePath(u"made.tgz"_s);
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
            {"a tar link out and a file through it",
             {info, base,
              tgz(u"data.tgz"_s, {top,
                                  {notes + u"/w"_s, {}, Type::symlink, u"/data/data/"_s + weather},
                                  {notes + u"/w/files/forecast.txt"_s, "rain"}})}},
            {"an external link",
             {info, base, tgz(u"data.tgz"_s, {top}),
              tgz(u"external.tgz"_s, {{notes + u"/x"_s, {}, Type::symlink, u"/data"_s}})}},
            {"a ../ ZIP entry", {info, base, {u"../planted"_s, "x"}}}, // next to the work folder
            {"an absolute ZIP entry", {info, base, {planted, "x"}}},
            {"no info.json", {base, tgz(u"data.tgz"_s, {top})}},
            {"no data.tgz", {info, base}},
        };
        QFile::remove(QDir::tempPath() + u"/planted"_s);
        const qsizetype eventsBefore = SimControl(Locations::runtime(), 35).received().size();
        const QString hostile = folder.filePath(u"hostile.vantle"_s);
        for (const auto& [what, entries] : cases) {
            QFile::remove(hostile);
            ASSERT_TRUE(writeArchive(hostile, ArchiveFormat::zip, entries)) << what;
            EXPECT_EQ(restored(hostile), u"This is not a Vantle backup"_s) << what;
        }
        ASSERT_TRUE(writeFile(hostile, "just some text\n")); // not a ZIP archive at all
        EXPECT_EQ(restored(hostile), u"This is not a Vantle backup"_s);
        EXPECT_EQ(SimControl(Locations::runtime(), 35).received().size(), eventsBefore)
            << "nothing was installed";
        EXPECT_EQ(root(u"[ -e "_s + marker + u" ] && echo planted"_s), QString());
        EXPECT_FALSE(QFileInfo::exists(planted));
        EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + u"/planted"_s));
        EXPECT_EQ(listing(notes), notesBefore);
        EXPECT_EQ(listing(weather), weatherBefore);
    }
    {
        SCOPED_TRACE("another Android version, then over the installed app");
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
    }
}

} // namespace
