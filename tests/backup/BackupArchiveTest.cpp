// The backup file and its data archives on the host: names, quoting, and every check that keeps an
// untrusted backup from writing outside its place.
#include "datacare/BackupArchive.h"

#include "BackupFixtures.h"
#include "datacare/AppBackup.h"
#include "support/DeviceFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using BackupArchive::EntryType;
using BackupArchive::TarScope;
using Type = ArchiveEntry::Type;

namespace {

const QString p = u"org.vantle.sim.notes"_s;

TEST(BackupNames, FileNamesCarryTheTimeAndCountCopiesWithinOneSecond) {
    const QDateTime at(QDate(2026, 3, 1), QTime(14, 5, 9));
    EXPECT_EQ(AppBackup::fileName(u"Notes"_s, at), u"Notes 2026-03-01 at 14.05.09.vantle"_s);
    EXPECT_EQ(AppBackup::fileName(u"A/B"_s, at, 2), u"A-B 2026-03-01 at 14.05.09 2.vantle"_s);
    EXPECT_EQ(AppBackup::fileName(u"Notes"_s, at, 3), u"Notes 2026-03-01 at 14.05.09 3.vantle"_s);
}

TEST(BackupNames, BackupsWithinOneSecondGetNamesOfTheirOwn) {
    QTemporaryDir home, work;
    const ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    QFile info(work.filePath(u"info.json"_s));
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write(infoJson(p));
    info.close();
    const QDateTime at(QDate(2026, 3, 1), QTime(14, 5, 9));
    QStringList names;
    for (int i = 0; i < 3; ++i)
        names.append(QFileInfo(AppBackup::saveBackupFile(work.path(), u"Notes"_s, at)).fileName());
    EXPECT_EQ(names, (QStringList{u"Notes 2026-03-01 at 14.05.09.vantle"_s,
                                  u"Notes 2026-03-01 at 14.05.09 2.vantle"_s,
                                  u"Notes 2026-03-01 at 14.05.09 3.vantle"_s}));
    EXPECT_GT(QFileInfo(AppBackup::folder() + u'/' + names.first()).size(), 0);
}

TEST(BackupNames, RootScriptsKeepTheirQuotesThroughTheDeviceShell) {
    EXPECT_EQ(AppBackup::rootCommand(u"echo 'a b'"_s), u"su 0 sh -c 'echo '\\''a b'\\'''"_s);
    // The restore script is one line per step with no line feed after the last; it survives the
    // quoting whole (its trap is single-quoted).
    const QString script = AppBackup::restoreScript(p);
    EXPECT_TRUE(
        script.startsWith(u"set -e\nexec 2>&1\nuid=$(stat -c %u /data/data/org.vantle.sim.notes)\n"_s));
    EXPECT_TRUE(script.endsWith(u"\nok=1\necho VT_RESTORE_OK"_s));
    EXPECT_TRUE(script.contains(u"trap '"_s));
}

struct EntryCase {
    const char* what;
    QString name;
    EntryType type;
    QString target;
    TarScope scope;
    bool accepted;
};

TEST(TarEntries, OnlyEntriesInsideThePackagesOwnFolderPass) {
    const TarScope app = TarScope::appData, ext = TarScope::externalData;
    const QList<EntryCase> cases{
        {"the package folder", p + u"/"_s, EntryType::folder, {}, app, true},
        {"a file", p + u"/files/a.txt"_s, EntryType::file, {}, app, true},
        {"a relative link inside", p + u"/files/l"_s, EntryType::symlink, u"../shared_prefs/x"_s, app, true},
        {"an absolute link to its own folder", p + u"/l"_s, EntryType::symlink,
         u"/data/user/0/"_s + p + u"/files"_s, app, true},
        {"the old lib link (never unpacked)", p + u"/lib"_s, EntryType::symlink, u"/data/app/~~x/lib/x86"_s,
         app, true},
        {"a hard link inside", p + u"/files/h"_s, EntryType::hardLink, p + u"/files/a.txt"_s, app, true},
        {"another package", u"org.vantle.sim.weather/files/x"_s, EntryType::file, {}, app, false},
        {"a name that only starts like it", p + u"x/files"_s, EntryType::file, {}, app, false},
        {"an absolute path", u"/data/data/"_s + p + u"/x"_s, EntryType::file, {}, app, false},
        {"a .. component", p + u"/../org.vantle.sim.weather/x"_s, EntryType::file, {}, app, false},
        {"the top as a file", p, EntryType::file, {}, app, false},
        {"the top as a link", p, EntryType::symlink, u"/data/data/"_s + p, app, false},
        {"into the lib link", p + u"/lib/evil.so"_s, EntryType::file, {}, app, false},
        {"lib as a folder", p + u"/lib"_s, EntryType::folder, {}, app, false},
        {"a link out by ..", p + u"/l"_s, EntryType::symlink, u"../org.vantle.sim.weather"_s, app, false},
        {"a link out by an absolute path", p + u"/l"_s, EntryType::symlink,
         u"/data/data/org.vantle.sim.weather"_s, app, false},
        {"a link to the lib link's target", p + u"/l"_s, EntryType::symlink, u"lib"_s, app, false},
        {"a hard link out", p + u"/h"_s, EntryType::hardLink, u"org.vantle.sim.weather/x"_s, app, false},
        {"a device", p + u"/d"_s, EntryType::device, {}, app, false},
        {"an external file", p + u"/files/e.txt"_s, EntryType::file, {}, ext, true},
        {"an external link", p + u"/files/l"_s, EntryType::symlink, u"e.txt"_s, ext, false},
        {"an external hard link", p + u"/files/h"_s, EntryType::hardLink, p + u"/files/e.txt"_s, ext, false},
    };
    for (const EntryCase& c : cases)
        EXPECT_EQ(BackupArchive::tarEntryProblem(c.name, c.type, c.target, p, c.scope).isEmpty(), c.accepted)
            << c.what;
}

TEST(TarEntries, NothingIsWrittenThroughALinkOfTheArchive) {
    QTemporaryDir folder;
    const QString tgz = folder.filePath(u"data.tgz"_s);
    // The link comes after the file that goes through it: order does not matter.
    ASSERT_TRUE(writeArchive(tgz, ArchiveFormat::tgz,
                             {{p + u"/"_s, {}, Type::folder},
                              {p + u"/sub/x"_s, "x", Type::file},
                              {p + u"/sub"_s, {}, Type::symlink, u"."_s}}));
    EXPECT_TRUE(BackupArchive::checkTar(tgz, p, TarScope::appData).contains(u"through a link"_s));
    ASSERT_TRUE(writeArchive(tgz, ArchiveFormat::tgz,
                             {{p + u"/"_s, {}, Type::folder},
                              {p + u"/files/a"_s, "a", Type::file},
                              {p + u"/files/l"_s, {}, Type::symlink, u"a"_s}}));
    EXPECT_EQ(BackupArchive::checkTar(tgz, p, TarScope::appData), QString());
    QFile garbage(tgz);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not gzip at all");
    garbage.close();
    EXPECT_FALSE(BackupArchive::checkTar(tgz, p, TarScope::appData).isEmpty());
}

TEST(BackupFile, IsWrittenForItsOwnerOnlyAndNeverOverAnExistingFile) {
    QTemporaryDir folder;
    const QString work = folder.filePath(u"work"_s);
    ASSERT_TRUE(QDir().mkpath(work));
    QFile info(work + u"/info.json"_s);
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write(infoJson(p));
    info.close();
    const mode_t old = ::umask(0);
    const QString zip = folder.filePath(u"b.vantle"_s);
    const QString error = BackupArchive::write(work, zip);
    ::umask(old);
    ASSERT_EQ(error, QString());
    struct stat status {};
    ASSERT_EQ(::stat(zip.toUtf8().constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_FALSE(BackupArchive::write(work, zip).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(zip)) << "a refused write removed the file that was there";

    const QString out = folder.filePath(u"out"_s);
    ASSERT_TRUE(QDir().mkpath(out));
    ASSERT_EQ(BackupArchive::read(zip, out), QString());
    QFile back(out + u"/info.json"_s);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), infoJson(p));
}

struct ZipCase {
    const char* what;
    QList<ArchiveEntry> entries;
};

TEST(BackupFile, HostileZipEntriesAreRefusedBeforeAnythingLeavesTheFolder) {
    QTemporaryDir outside;
    const QString escape = outside.filePath(u"escaped.txt"_s);
    QList<ArchiveEntry> many;
    for (int i = 0; i <= BackupArchive::maxEntries; ++i)
        many.append({u"f%1"_s.arg(i), "x"});
    const QList<ZipCase> cases{
        {"..", {{u"../escaped.txt"_s, "x"}}},
        {"absolute", {{escape, "x"}}},
        {"symlink", {{u"info.json"_s, {}, Type::symlink, escape}}},
        {"twice", {{u"info.json"_s, "{}"}, {u"info.json"_s, "{}"}}},
        {"oversize info", {{u"info.json"_s, QByteArray(BackupArchive::maxInfoBytes + 1, ' ')}}},
        {"too many", many},
    };
    for (const ZipCase& c : cases) {
        QTemporaryDir folder;
        const QString zip = folder.filePath(u"hostile.vantle"_s);
        ASSERT_TRUE(writeArchive(zip, ArchiveFormat::zip, c.entries)) << c.what;
        const QString work = folder.filePath(u"work/inner"_s);
        ASSERT_TRUE(QDir().mkpath(work));
        EXPECT_FALSE(BackupArchive::read(zip, work).isEmpty()) << c.what;
        EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"work/escaped.txt"_s))) << c.what;
        EXPECT_FALSE(QFileInfo::exists(escape)) << c.what;
    }
}

} // namespace
