// What needs no device: backup file names, the backup file and every check that keeps an untrusted
// backup from writing outside its place, which emulator is Vantle's own (the uninstaller and the
// backups end only that one), and the menus that lead to backups.
#include "BackupFixtures.h"
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "datacare/AppBackup.h"
#include "datacare/BackupArchive.h"
#include "runtime/EmulatorProcesses.h"
#include "support/DeviceFiles.h"
#include "ui/AppSection.h"
#include "ui/AppTile.h"
#include "ui/MenuPanel.h"
#include "ui/RecordingLauncherActions.h"

#include <QMenu>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using BackupArchive::EntryType;
using BackupArchive::TarScope;
using Type = ArchiveEntry::Type;

namespace {

const QString p = u"org.vantle.sim.notes"_s;

TEST(BackupFile, IsNamedForItsAppAndTimeWrittenForItsOwnerOnlyAndNeverOverAnExistingFile) {
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
}

TEST(TarEntries, OnlyEntriesInsideThePackagesOwnFolderPass) {
    const QString w = u"org.vantle.sim.weather"_s;
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

// The menu's entries without separators, triggering the one named `trigger`.
QStringList texts(const QMenu& menu, const QString& trigger) {
    QStringList result;
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator()) result.append(action->text());
        if (action->text() == trigger) action->trigger();
    }
    return result;
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
    EXPECT_EQ(texts(*menu, u"Restore from backup…"_s),
              (QStringList{u"Restore from backup…"_s, u"Close all apps"_s, u"Quit Vantle"_s}));
    ASSERT_FALSE(panel.sections().isEmpty() || panel.sections().first()->tiles().isEmpty());
    const auto tileMenu = panel.sections().first()->tiles().first()->makeContextMenu();
    EXPECT_EQ(texts(*tileMenu, u"Back up app data…"_s),
              (QStringList{u"Add to favourites"_s, u"Back up app data…"_s, u"Show APK in Files"_s,
                           u"Remove from Vantle"_s, u"Uninstall from Android…"_s}));
    EXPECT_EQ(actions.calls, (QStringList{u"chooseBackupToRestore"_s, u"backup Notes"_s}));
}

} // namespace
