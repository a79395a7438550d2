// The uninstaller in a home of its own: what it lists, measures, removes, moves to the Trash and
// keeps, answered through its real confirmation as the user sees it.
#include "datacare/Uninstaller.h"

#include "platform/Locations.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The paths of `paths` that exist.
QStringList existing(QStringList paths) {
    paths.removeIf([](const QString& path) { return !QFileInfo::exists(path); });
    return paths;
}

// The home, the user folders and the Trash in a folder of the test's own, with something in every
// folder Vantle owns and in the user's.
struct Home {
    QTemporaryDir home;
    ScopedEnvironment vantleHome{"VANTLE_HOME", home.path()};
    ScopedEnvironment userHome{"HOME", home.path()};
    ScopedEnvironment dataHome{"XDG_DATA_HOME", home.filePath(u".local/share"_s)};
    ScopedSettings settings;
    MainLogSince log;
    QStringList told;
    int ended = 0;
    Uninstaller uninstaller{{[this](const QString& title, const QString& text) { told << title << text; },
                             [this] { ++ended; }, u"/usr/bin/vantle"_s}};
    Home() {
        writeFile(Locations::runtime() + u"/system-images/android-35/system.img"_s, QByteArray(300'000, 'v'));
        for (const QString& file :
             {Locations::logs() + u"/vantle.log"_s, Locations::cache() + u"/icons.cache"_s,
              Locations::config() + u"/settings.json"_s, Locations::autostartEntry(),
              Locations::downloads() + u"/photo.jpg"_s, Locations::pictures() + u"/Shot.png"_s,
              Locations::movies() + u"/Recording.mp4"_s, Locations::backups() + u"/N.vantle"_s})
            writeFile(file, QByteArray(1000, 'v'));
    }
};

TEST(UninstallerTest, TheConfirmationAsksWithTheBoxOffAndOnlyTheBoxSendsUserFilesToTheTrash) {
    enum Answer { cancel, uninstall, uninstallWithTheBox };
    for (const Answer answer : {cancel, uninstall, uninstallWithTheBox}) {
        SCOPED_TRACE(int(answer));
        Home h;
        const QStringList data = Uninstaller::appData(), user = Uninstaller::userFiles();
        const qint64 bytes = Uninstaller::size(data); // before an answer starts removing them
        EXPECT_GE(bytes, 304'000);                    // at least the files' bytes, in whole blocks
        QStringList shown; // the question, the text, the box and whether it was ticked
        // The dialog is modal: it is read and answered from inside its own event loop.
        QTimer reader;
        reader.setInterval(20);
        QObject::connect(&reader, &QTimer::timeout, &reader, [&] {
            auto* dialog = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            reader.stop();
            shown = {dialog->text(), dialog->informativeText(), dialog->checkBox()->text(),
                     dialog->checkBox()->isChecked() ? u"ticked"_s : u"not ticked"_s};
            if (const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS"); !folder.isEmpty()) {
                QTest::qWait(300);
                dialog->grab().save(folder + u"/uninstall-confirmation.png"_s);
            }
            dialog->checkBox()->setChecked(answer == uninstallWithTheBox);
            for (QAbstractButton* button : dialog->buttons())
                if (button->text() == (answer == cancel ? u"Cancel"_s : u"Uninstall"_s)) button->click();
        });
        reader.start();
        h.uninstaller.confirmAndRun();
        ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }, 10000));
        const QString text = shown.takeAt(1);
        EXPECT_TRUE(text.startsWith(
            u"Vantle, its Android and all apps inside it (and their data) are removed. This frees about "_s +
            Uninstaller::formatSize(bytes) + u".\n\nTip: back up apps you want to keep first"_s));
        EXPECT_EQ(shown, (QStringList{u"Uninstall Vantle?"_s,
                                      u"Also delete my screenshots, recordings, downloads and backups"_s,
                                      u"not ticked"_s}));
        if (answer == cancel) {
            QTest::qWait(100);
            EXPECT_EQ(h.ended, 0);
            EXPECT_EQ(existing(data + user), data + user);
            continue;
        }
        const bool trash = answer == uninstallWithTheBox;
        ASSERT_TRUE(waitUntil([&] { return h.ended == 1; }, 20000));
        EXPECT_EQ(existing(data + QStringList{Locations::runtime(), Locations::logs(), Locations::cache(),
                                              Locations::autostartEntry()}),
                  QStringList());
        EXPECT_EQ(existing(user), trash ? QStringList() : user);
        EXPECT_EQ(QDir(h.home.filePath(u".local/share/Trash/files"_s))
                      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  trash ? (QStringList{u"Vantle"_s, u"Vantle Backups"_s, u"Vantle-0001"_s, u"Vantle-0002"_s})
                        : QStringList());
        ASSERT_EQ(h.told.size(), 2);
        EXPECT_EQ(h.told[0], u"Vantle has been removed"_s);
        EXPECT_TRUE(h.told[1].startsWith(
            trash ? u"Everything is gone. Empty the Trash to free the space completely.\n\n"_s
                  : u"Your screenshots, recordings, downloads and backups were kept (Pictures, Videos, "
                    u"Downloads "
                    u"and Documents › Vantle). Empty the Trash"_s));
        EXPECT_TRUE(h.told[1].contains(u"package manager"_s));
        EXPECT_TRUE(h.log.lines().contains(u"uninstall: starting (user files too: "_s +
                                           (trash ? u"true)"_s : u"false)"_s)));
        // Nothing written on the way out brings the settings folder back.
        EXPECT_FALSE(VantleSettings::set(u"VantleSingleApp"_s, true));
        EXPECT_FALSE(QFileInfo::exists(Locations::config()));
    }
}

TEST(UninstallerTest, ItListsAndMeasuresWhatItRemovesAndLeavesProgramFilesToWhoeverInstalledThem) {
    Home h;
    const QStringList data = Uninstaller::appData(), user = Uninstaller::userFiles();
    // The dry run lists both lists, with the sizes of what exists, and removes nothing.
    h.uninstaller.dryRun();
    QStringList expected{u"uninstall dry run - app: /usr/bin/vantle"_s};
    for (const QString& path : data + QStringList{u"user files:"_s} + user)
        expected << (path.startsWith(u'/')
                         ? path + u" ("_s + Uninstaller::formatSize(Uninstaller::size({path})) + u')'
                         : path);
    EXPECT_EQ(h.log.lines().mid(h.log.lines().indexOf(expected.first())), expected);
    EXPECT_EQ(existing(data + user), data + user);
    // A path that does not exist is listed without a size.
    QDir(Locations::cache()).removeRecursively();
    EXPECT_EQ(Uninstaller::describe({Locations::cache()}), Locations::cache());

    QFile sparse(h.home.filePath(u"sparse.img"_s));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(100'000'000)); // a hole: no blocks
    EXPECT_LT(Uninstaller::size({sparse.fileName()}), 1'000'000);
    writeFile(h.home.filePath(u"full/a"_s), QByteArray(200'000, 'v'));
    writeFile(h.home.filePath(u"full/b/c"_s), QByteArray(200'000, 'v'));
    EXPECT_GE(Uninstaller::size({h.home.filePath(u"full"_s)}), 400'000);
    EXPECT_EQ(Uninstaller::size({h.home.filePath(u"missing"_s)}), 0);
    const QString build = h.home.filePath(u"src/build"_s);
    writeFile(build + u"/CMakeCache.txt"_s, "x");
    const QList<std::pair<QString, QString>> cases = {
        {build + u"/app/vantle"_s, u"This Vantle runs from its build folder; delete "_s + build},
        {u"/usr/bin/vantle"_s, u"Vantle's program files belong to your package manager"_s},
        {u"/home/u/.local/bin/vantle"_s, u"Vantle's program files were installed into /home/u/.local; remove "
                                         u"bin/vantle, bin/vantlectl, share/vantle, libexec/vantle, "_s},
    };
    for (const auto& [executable, advice] : cases)
        EXPECT_TRUE(Uninstaller::programFilesAdvice(executable).startsWith(advice))
            << executable.toStdString();
}

} // namespace
