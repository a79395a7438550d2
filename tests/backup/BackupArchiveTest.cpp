// The backup file and its data archives on the host: names, and every check that keeps an untrusted
// backup from writing outside its place.
#include "datacare/BackupArchive.h"

#include "BackupFixtures.h"
#include "datacare/AppBackup.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using BackupArchive::EntryType;
using BackupArchive::TarScope;
using Type = ArchiveEntry::Type;

namespace {

const QString p = u"org.vantle.sim.notes"_s;

TEST(BackupNames, BackupsWithinOneSecondGetNamesOfTheirOwn) {
    QTemporaryDir home, work;
    const ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    ASSERT_TRUE(writeFile(work.filePath(u"info.json"_s), infoJson(p)));
    const QDateTime at(QDate(2026, 3, 1), QTime(14, 5, 9));
    QStringList names;
    for (const QString& name : {u"Notes"_s, u"Notes"_s, u"A/B"_s})
        names.append(QFileInfo(AppBackup::saveBackupFile(work.path(), name, at)).fileName());
    EXPECT_EQ(names, (QStringList{u"Notes 2026-03-01 at 14.05.09.vantle"_s,
                                  u"Notes 2026-03-01 at 14.05.09 2.vantle"_s,
                                  u"A-B 2026-03-01 at 14.05.09.vantle"_s}));
    EXPECT_GT(QFileInfo(AppBackup::folder() + u'/' + names.first()).size(), 0);
}

TEST(TarEntries, OnlyEntriesInsideThePackagesOwnFolderPass) {
    const QString weather = u"org.vantle.sim.weather"_s;
    struct Case {
        const char* what;
        QString name;
        EntryType type;
        QString target;
        TarScope scope;
    };
    // Each group's verdict: passed, then refused.
    const QList<Case> passed{
        {"the package folder", p + u"/"_s, EntryType::folder, {}, TarScope::appData},
        {"a file", p + u"/files/a.txt"_s, EntryType::file, {}, TarScope::appData},
        {"a relative link inside", p + u"/files/l"_s, EntryType::symlink, u"../shared_prefs/x"_s,
         TarScope::appData},
        {"an absolute link home", p + u"/l"_s, EntryType::symlink, u"/data/user/0/"_s + p, TarScope::appData},
        {"the old lib link", p + u"/lib"_s, EntryType::symlink, u"/data/app/~~x/lib/x86"_s,
         TarScope::appData},
        {"a hard link inside", p + u"/files/h"_s, EntryType::hardLink, p + u"/files/a.txt"_s,
         TarScope::appData},
        {"an external file", p + u"/files/e.txt"_s, EntryType::file, {}, TarScope::externalData},
    };
    const QList<Case> refused{
        {"another package", weather + u"/files/x"_s, EntryType::file, {}, TarScope::appData},
        {"a name that only starts like it", p + u"x/files"_s, EntryType::file, {}, TarScope::appData},
        {"an absolute path", u"/data/data/"_s + p + u"/x"_s, EntryType::file, {}, TarScope::appData},
        {"a .. component", p + u"/../"_s + weather + u"/x"_s, EntryType::file, {}, TarScope::appData},
        {"the top as a file", p, EntryType::file, {}, TarScope::appData},
        {"the top as a link", p, EntryType::symlink, u"/data/data/"_s + p, TarScope::appData},
        {"into the lib link", p + u"/lib/evil.so"_s, EntryType::file, {}, TarScope::appData},
        {"lib as a folder", p + u"/lib"_s, EntryType::folder, {}, TarScope::appData},
        {"a link out by ..", p + u"/l"_s, EntryType::symlink, u"../"_s + weather, TarScope::appData},
        {"a link out", p + u"/l"_s, EntryType::symlink, u"/data/data/"_s + weather, TarScope::appData},
        {"a link to the lib link", p + u"/l"_s, EntryType::symlink, u"lib"_s, TarScope::appData},
        {"a hard link out", p + u"/h"_s, EntryType::hardLink, weather + u"/x"_s, TarScope::appData},
        {"a device", p + u"/d"_s, EntryType::device, {}, TarScope::appData},
        {"an external link", p + u"/files/l"_s, EntryType::symlink, u"e.txt"_s, TarScope::externalData},
        {"an external hard link", p + u"/h"_s, EntryType::hardLink, p + u"/e"_s, TarScope::externalData},
    };
    for (const auto& [cases, accepted] : {std::pair{passed, true}, std::pair{refused, false}})
        for (const Case& c : cases)
            EXPECT_EQ(BackupArchive::tarEntryProblem(c.name, c.type, c.target, p, c.scope).isEmpty(),
                      accepted)
                << c.what;
}

TEST(TarEntries, NothingIsWrittenThroughALinkOfTheArchive) {
    QTemporaryDir folder;
    const QString tgz = folder.filePath(u"data.tgz"_s);
    const ArchiveEntry top{p + u"/"_s, {}, Type::folder};
    // The link comes after the file that goes through it: order does not matter.
    ASSERT_TRUE(writeArchive(tgz, ArchiveFormat::tgz,
                             {top, {p + u"/sub/x"_s, "x"}, {p + u"/sub"_s, {}, Type::symlink, u"."_s}}));
    EXPECT_TRUE(BackupArchive::checkTar(tgz, p, TarScope::appData).contains(u"through a link"_s));
    ASSERT_TRUE(
        writeArchive(tgz, ArchiveFormat::tgz,
                     {top, {p + u"/files/a"_s, "a"}, {p + u"/files/l"_s, {}, Type::symlink, u"a"_s}}));
    EXPECT_EQ(BackupArchive::checkTar(tgz, p, TarScope::appData), QString());
    ASSERT_TRUE(writeFile(tgz, "not gzip at all"));
    EXPECT_FALSE(BackupArchive::checkTar(tgz, p, TarScope::appData).isEmpty());
}

TEST(BackupFile, IsWrittenForItsOwnerOnlyAndNeverOverAnExistingFile) {
    QTemporaryDir folder;
    ASSERT_TRUE(writeFile(folder.filePath(u"work/info.json"_s), infoJson(p)));
    const mode_t old = ::umask(0);
    const QString zip = folder.filePath(u"b.vantle"_s);
    const QString error = BackupArchive::write(folder.filePath(u"work"_s), zip);
    ::umask(old);
    ASSERT_EQ(error, QString());
    struct stat status {};
    ASSERT_EQ(::stat(zip.toUtf8().constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_FALSE(BackupArchive::write(folder.filePath(u"work"_s), zip).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(zip)) << "a refused write removed the file that was there";
    ASSERT_TRUE(QDir().mkpath(folder.filePath(u"out"_s)));
    ASSERT_EQ(BackupArchive::read(zip, folder.filePath(u"out"_s)), QString());
    EXPECT_EQ(readFile(folder.filePath(u"out/info.json"_s)), infoJson(p));
}

TEST(BackupFile, HostileZipEntriesAreRefusedBeforeAnythingLeavesTheFolder) {
    QTemporaryDir outside;
    const QString escape = outside.filePath(u"escaped.txt"_s);
    QList<ArchiveEntry> many;
    for (int i = 0; i <= BackupArchive::maxEntries; ++i)
        many.append({u"f%1"_s.arg(i), "x"});
    const QList<std::pair<const char*, QList<ArchiveEntry>>> cases{
        {"..", {{u"../escaped.txt"_s, "x"}}},
        {"absolute", {{escape, "x"}}},
        {"symlink", {{u"info.json"_s, {}, Type::symlink, escape}}},
        {"twice", {{u"info.json"_s, "{}"}, {u"info.json"_s, "{}"}}},
        {"oversize info", {{u"info.json"_s, QByteArray(BackupArchive::maxInfoBytes + 1, ' ')}}},
        {"too many", many},
    };
    for (const auto& [what, entries] : cases) {
        QTemporaryDir folder;
        const QString zip = folder.filePath(u"hostile.vantle"_s), work = folder.filePath(u"work/inner"_s);
        ASSERT_TRUE(writeArchive(zip, ArchiveFormat::zip, entries)) << what;
        ASSERT_TRUE(QDir().mkpath(work));
        EXPECT_FALSE(BackupArchive::read(zip, work).isEmpty()) << what;
        EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"work/escaped.txt"_s))) << what;
        EXPECT_FALSE(QFileInfo::exists(escape)) << what;
    }
}

} // namespace
