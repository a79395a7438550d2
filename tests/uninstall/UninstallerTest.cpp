// The uninstaller in a home of its own: what it lists, measures, removes, moves to the Trash and
// keeps, and its confirmation as the user sees it.
#include "datacare/Uninstaller.h"

#include "platform/Locations.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Sets an environment variable for the object's lifetime.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QString& value)
        : m_name(name)
        , m_saved(qgetenv(name))
        , m_wasSet(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value.toUtf8());
    }
    ~ScopedVariable() {
        if (m_wasSet)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_saved;
    bool m_wasSet;
};

void writeFile(const QString& path, qint64 bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(bytes, 'v'));
}

class UninstallerTest : public ::testing::Test {
protected:
    QTemporaryDir home;
    // The home, the user folders and the Trash all live in the test's own folder.
    ScopedVariable vantleHome{"VANTLE_HOME", home.path()};
    ScopedVariable userHome{"HOME", home.path()};
    ScopedVariable dataHome{"XDG_DATA_HOME", home.filePath(u".local/share"_s)};
    ScopedSettings settings;
    MainLogSince log;
    QStringList told;
    int ended = 0;
    std::optional<Uninstaller::UserFiles> answer; // the user's answer to the confirmation: cancel
    std::unique_ptr<Uninstaller> uninstaller;

    // The uninstaller with the real confirmation dialog, or with `answer` standing in for the user.
    Uninstaller::Seams seams(bool realDialog) {
        Uninstaller::Seams seams;
        seams.tell = [this](const QString& title, const QString& text) { told << title << text; };
        seams.end = [this] { ++ended; };
        seams.executable = u"/usr/bin/vantle"_s;
        if (!realDialog) seams.confirm = [this](const QString&, const QString&) { return answer; };
        return seams;
    }

    void SetUp() override {
        uninstaller = std::make_unique<Uninstaller>(seams(false));
        // Something in every folder Vantle owns, and in the user's.
        writeFile(Locations::runtime() + u"/system-images/android-35/system.img"_s, 300'000);
        writeFile(Locations::logs() + u"/vantle.log"_s, 1000);
        writeFile(Locations::cache() + u"/icons.cache"_s, 100);
        writeFile(Locations::config() + u"/settings.json"_s, 100);
        writeFile(Locations::autostartEntry(), 100);
        writeFile(Locations::downloads() + u"/photo.jpg"_s, 100);
        writeFile(Locations::pictures() + u"/Screenshot.png"_s, 100);
        writeFile(Locations::movies() + u"/Recording.mp4"_s, 100);
        writeFile(Locations::backups() + u"/Notes 2026-12-07.vantle"_s, 100);
    }

    static bool allExist(const QStringList& paths) {
        return std::all_of(paths.cbegin(), paths.cend(),
                           [](const QString& path) { return QFileInfo::exists(path); });
    }
    static bool noneExist(const QStringList& paths) {
        return std::none_of(paths.cbegin(), paths.cend(),
                            [](const QString& path) { return QFileInfo::exists(path); });
    }
    QStringList trashed() const {
        QStringList names;
        QDirIterator files(home.filePath(u".local/share/Trash/files"_s),
                           QDir::AllEntries | QDir::NoDotAndDotDot);
        while (files.hasNext())
            names.append(QFileInfo(files.next()).fileName());
        names.sort();
        return names;
    }
};

} // namespace

TEST_F(UninstallerTest, TheListsAreVantlesFoldersAndTheUsersOwn) {
    EXPECT_EQ(Uninstaller::appData(),
              (QStringList{home.filePath(u".local/share/Vantle"_s), home.filePath(u".local/state/Vantle"_s),
                           home.filePath(u".cache/Vantle"_s), home.filePath(u".config/Vantle"_s),
                           home.filePath(u".config/autostart/app.vantle.Vantle.desktop"_s)}));
    EXPECT_EQ(Uninstaller::userFiles(),
              (QStringList{home.filePath(u"Downloads/Vantle"_s), home.filePath(u"Pictures/Vantle"_s),
                           home.filePath(u"Videos/Vantle"_s), home.filePath(u"Documents/Vantle Backups"_s)}));
}

TEST_F(UninstallerTest, TheDryRunListsBothListsAndRemovesNothing) {
    uninstaller->dryRun();
    const QStringList lines = log.lines();
    const qsizetype start = lines.indexOf(u"uninstall dry run - app: /usr/bin/vantle"_s);
    ASSERT_GE(start, 0) << lines.join(u'\n').toStdString();
    const QStringList data = Uninstaller::appData(), user = Uninstaller::userFiles();
    ASSERT_EQ(lines.size(), start + 1 + data.size() + 1 + user.size());
    for (qsizetype i = 0; i < data.size(); ++i)
        EXPECT_EQ(lines[start + 1 + i],
                  data[i] + u" ("_s + Uninstaller::formatSize(Uninstaller::size({data[i]})) + u')');
    EXPECT_EQ(lines[start + 1 + data.size()], u"user files:"_s);
    EXPECT_TRUE(lines[start + 2 + data.size()].startsWith(user[0] + u" ("_s));
    EXPECT_TRUE(allExist(data));
    EXPECT_TRUE(allExist(user));

    // A path that does not exist is listed without a size.
    QDir(Locations::cache()).removeRecursively();
    EXPECT_EQ(Uninstaller::describe({Locations::cache()}), Locations::cache());
}

TEST_F(UninstallerTest, WithTheBoxOffTheUserFoldersStay) {
    uninstaller->run(Uninstaller::UserFiles::keep);
    ASSERT_TRUE(waitUntil([&] { return ended == 1; }, 20000));
    EXPECT_TRUE(noneExist(Uninstaller::appData()));
    EXPECT_TRUE(allExist(Uninstaller::userFiles()));
    EXPECT_EQ(trashed(), QStringList());
    ASSERT_EQ(told.size(), 2);
    EXPECT_EQ(told[0], u"Vantle has been removed"_s);
    EXPECT_TRUE(
        told[1].startsWith(u"Your screenshots, recordings, downloads and backups were kept (Pictures, "
                           u"Videos, Downloads and Documents › Vantle). Empty the Trash"_s));
    EXPECT_TRUE(told[1].contains(u"package manager"_s));
    EXPECT_TRUE(log.lines().contains(u"uninstall: starting (user files too: false)"_s));
    // Nothing written on the way out brings the settings folder back.
    EXPECT_FALSE(VantleSettings::set(u"VantleSingleApp"_s, true));
    EXPECT_FALSE(QFileInfo::exists(Locations::config()));
}

TEST_F(UninstallerTest, WithTheBoxOnTheUserFoldersGoToTheTrash) {
    answer = Uninstaller::UserFiles::moveToTrash;
    uninstaller->confirmAndRun();
    ASSERT_TRUE(waitUntil([&] { return ended == 1; }, 20000));
    EXPECT_TRUE(noneExist(Uninstaller::appData()));
    EXPECT_TRUE(noneExist(Uninstaller::userFiles()));
    EXPECT_EQ(trashed(), (QStringList{u"Vantle"_s, u"Vantle Backups"_s, u"Vantle-0001"_s, u"Vantle-0002"_s}));
    ASSERT_EQ(told.size(), 2);
    EXPECT_TRUE(
        told[1].startsWith(u"Everything is gone. Empty the Trash to free the space completely.\n\n"_s));
    EXPECT_TRUE(log.lines().contains(u"uninstall: starting (user files too: true)"_s));
}

TEST_F(UninstallerTest, SizesCountTheSpaceUsedNotTheLength) {
    const QString sparse = home.filePath(u"sparse.img"_s);
    QFile file(sparse);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(100'000'000)); // a hole: no blocks
    file.close();
    EXPECT_LT(Uninstaller::size({sparse}), 1'000'000);
    writeFile(home.filePath(u"full/a"_s), 200'000);
    writeFile(home.filePath(u"full/b/c"_s), 200'000);
    EXPECT_GE(Uninstaller::size({home.filePath(u"full"_s)}), 400'000);
    EXPECT_EQ(Uninstaller::size({home.filePath(u"missing"_s)}), 0);
}

TEST_F(UninstallerTest, TheProgramFilesAreLeftToWhoeverInstalledThem) {
    const QString build = home.filePath(u"src/build"_s);
    writeFile(build + u"/CMakeCache.txt"_s, 10);
    struct Case {
        QString executable;
        QString advice;
    };
    const QList<Case> cases = {
        {build + u"/app/vantle"_s, u"This Vantle runs from its build folder; delete "_s + build},
        {u"/usr/bin/vantle"_s, u"Vantle's program files belong to your package manager"_s},
        {u"/home/u/.local/bin/vantle"_s, u"Vantle's program files were installed into /home/u/.local; remove "
                                         u"bin/vantle, bin/vantlectl, share/vantle, libexec/vantle, "_s},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(Uninstaller::programFilesAdvice(c.executable).startsWith(c.advice))
            << c.executable.toStdString();
}

TEST_F(UninstallerTest, TheConfirmationAsksWithTheBoxOffAndCancelKeepsEverything) {
    Uninstaller withDialog(seams(true));
    QString title, text, box;
    bool boxChecked = true;
    QStringList buttons;
    const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS");
    // The dialog is modal: it is read and answered from inside its own event loop.
    QTimer reader;
    reader.setInterval(20);
    QObject::connect(&reader, &QTimer::timeout, &reader, [&] {
        auto* dialog = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        reader.stop();
        title = dialog->text();
        text = dialog->informativeText();
        box = dialog->checkBox()->text();
        boxChecked = dialog->checkBox()->isChecked();
        for (QAbstractButton* button : dialog->buttons())
            buttons.append(button->text());
        if (!folder.isEmpty()) {
            QTest::qWait(300);
            dialog->grab().save(folder + u"/uninstall-confirmation.png"_s);
        }
        for (QAbstractButton* button : dialog->buttons())
            if (button->text() == u"Cancel"_s) button->click();
    });
    reader.start();
    withDialog.confirmAndRun();
    ASSERT_TRUE(waitUntil([&] { return !title.isEmpty(); }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(title, u"Uninstall Vantle?"_s);
    const qint64 bytes = Uninstaller::size(Uninstaller::appData());
    EXPECT_GE(bytes, 301'400); // at least the files' bytes, in whole blocks
    EXPECT_EQ(text, Uninstaller::confirmationText(bytes));
    EXPECT_TRUE(
        text.startsWith(u"Vantle, its Android and all apps inside it (and their data) are removed. This "
                        u"frees about "_s +
                        Uninstaller::formatSize(bytes) + u".\n\nTip: back up apps you want to keep first"_s));
    EXPECT_EQ(box, u"Also delete my screenshots, recordings, downloads and backups"_s);
    EXPECT_FALSE(boxChecked);
    EXPECT_TRUE(buttons.contains(u"Uninstall"_s));
    EXPECT_TRUE(buttons.contains(u"Cancel"_s));
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(allExist(Uninstaller::appData()));
}
