#include "PanelFixture.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "provisioning/RuntimeSetupView.h"
#include "ui/StatusPill.h"
#include "ui/VantleDock.h"

#include <QBuffer>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;
using LauncherRules::Page;

class MenuPanelTest : public PanelFixture {
protected:
    static bool isCurrentPage(const MenuPanel& panel, QWidget* content) {
        const auto* pages = panel.findChild<QStackedWidget*>();
        return pages && content && pages->currentWidget()->isAncestorOf(content);
    }
};

TEST_F(MenuPanelTest, SetupShowsWhileAndroidIsIncompleteOrWhenAskedFor) {
    add(u"Maps"_s);
    runtimeComplete = false;
    auto panel = makePanel();
    EXPECT_EQ(panel->page(), Page::setup);
    EXPECT_TRUE(isCurrentPage(*panel, panel->setupView()));
    EXPECT_TRUE(panel->sections().isEmpty());

    runtimeComplete = true;
    VantleSettings::set(SettingsKeys::showRuntimeSetup, true);
    panel->render();
    EXPECT_EQ(panel->page(), Page::setup);

    // Android's state changing is when a finished set-up gives way to the apps.
    VantleSettings::set(SettingsKeys::showRuntimeSetup, false);
    store.setAndroidState(AndroidState::sleeping);
    EXPECT_EQ(panel->page(), Page::library);
    EXPECT_EQ(titles(*panel), QStringList{u"All apps"_s});

    // Without the override the panel asks the real runtime paths; this test's home holds no SDK.
    MenuPanel real(store, actions, {nullptr, nullptr, nullptr, &icons});
    EXPECT_EQ(real.page(), Page::setup);
}

TEST_F(MenuPanelTest, TheEmptyLibraryInvitesTheFirstAppAndChosenOrDroppedFilesAreAdded) {
    auto panel = makePanel();
    panel->show();
    EXPECT_EQ(panel->page(), Page::empty);
    EXPECT_EQ(panel->findChild<QLabel*>(u"emptyTitle"_s)->text(), u"Add your first app"_s);
    EXPECT_EQ(panel->findChild<QLabel*>(u"emptyText"_s)->text(),
              u"Drop an APK file here, or choose one.\nIt opens in its own small window."_s);
    EXPECT_EQ(panel->chooseButton()->text(), u"Choose APK…"_s);
    EXPECT_TRUE(isCurrentPage(*panel, panel->chooseButton()));

    QTest::mouseClick(panel->chooseButton(), Qt::LeftButton); // cancelled: nothing changes
    EXPECT_EQ(chooserOpened, 1);
    EXPECT_TRUE(store.apps().isEmpty());
    chosenFiles = {QUrl::fromLocalFile(apkFile(u"Weather.apk"_s))};
    QTest::mouseClick(panel->chooseButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !store.isAddingFiles(); })); // read in the background
    EXPECT_EQ(panel->page(), Page::library);
    EXPECT_EQ(panel->findChild<QLabel*>(u"statusLine"_s)->text(), u"Added Weather.apk"_s);

    // The library's own button opens the chooser too.
    EXPECT_EQ(panel->addButton()->toolTip(), u"Add an APK"_s);
    chosenFiles = {QUrl::fromLocalFile(apkFile(u"Notes.apk"_s))};
    QTest::mouseClick(panel->addButton(), Qt::LeftButton);
    EXPECT_EQ(chooserOpened, 3);
    ASSERT_TRUE(waitUntil([&] { return !store.isAddingFiles(); }));
    EXPECT_EQ(names(panel->sections().last()), (QStringList{u"Weather"_s, u"Notes"_s}));

    // Dropped files go to the library under an overlay; dragged text is no file and is refused.
    QMimeData data, text;
    data.setUrls(
        {QUrl::fromLocalFile(apkFile(u"Chess.APK"_s)), QUrl::fromLocalFile(files.filePath(u"notes.txt"_s))});
    text.setText(u"/tmp/x.apk"_s);
    const QPoint centre = panel->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(panel.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(panel->isDropOverlayShown());
    EXPECT_EQ(panel->findChild<QLabel*>(u"dropOverlay"_s)->text(), u"Drop to add"_s);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(panel.get(), &leave);
    EXPECT_FALSE(panel->isDropOverlayShown());
    QCoreApplication::sendEvent(panel.get(), &enter);
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(panel.get(), &drop);
    EXPECT_FALSE(panel->isDropOverlayShown());
    ASSERT_TRUE(waitUntil([&] { return !store.isAddingFiles(); }));
    EXPECT_EQ(names(panel->sections().last()), (QStringList{u"Weather"_s, u"Notes"_s, u"Chess"_s}));
    EXPECT_EQ(store.statusMessage(), u"Skipped notes.txt: choose an APK"_s); // the last file's message
    QDragEnterEvent textEnter(centre, Qt::CopyAction, &text, Qt::LeftButton, {});
    QCoreApplication::sendEvent(panel.get(), &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    EXPECT_FALSE(panel->isDropOverlayShown());
}

TEST_F(MenuPanelTest, SectionsAreFavouritesThenAllAppsAndAQueryShowsResults) {
    auto panel = makePanel();
    add(u"Notes-v7.2"_s);
    EXPECT_EQ(titles(*panel), QStringList{u"All apps"_s}); // no favourites: no empty section

    add(u"Maps"_s, true);
    add(u"Camera"_s);
    add(u"Mail"_s, true);
    EXPECT_EQ(titles(*panel), (QStringList{u"Favourites"_s, u"All apps"_s}));
    EXPECT_EQ(names(panel->sections()[0]), (QStringList{u"Maps"_s, u"Mail"_s}));
    EXPECT_EQ(names(panel->sections()[1]), (QStringList{u"Notes-v7.2"_s, u"Maps"_s, u"Camera"_s, u"Mail"_s}));
    EXPECT_EQ(panel->sections()[1]->tiles()[0]->toolTip(), u"Notes"_s); // the display name

    // Hidden entries leave both sections.
    store.setHiddenForShots({u"mail"_s});
    EXPECT_EQ(names(panel->sections()[0]), QStringList{u"Maps"_s});
    EXPECT_EQ(panel->sections()[1]->tiles().size(), 3);
    store.setHiddenForShots({});

    panel->show();
    EXPECT_FALSE(panel->clearSearchAction()->isVisible());
    EXPECT_EQ(panel->searchField()->placeholderText(), u"Search apps"_s);
    QTest::keyClicks(panel->searchField(), u"MA"_s);
    EXPECT_EQ(store.search(), u"MA"_s);
    EXPECT_EQ(titles(*panel), QStringList{u"Results"_s});
    EXPECT_EQ(names(panel->sections()[0]), (QStringList{u"Maps"_s, u"Mail"_s})); // library order
    EXPECT_TRUE(panel->clearSearchAction()->isVisible());
    QSignalSpy dismissed(panel.get(), &MenuPanel::dismissRequested);
    QTest::keyClick(panel->searchField(), Qt::Key_Return); // opens the first result
    EXPECT_EQ(actions.calls.filter(u"launch"_s), QStringList{u"launch Maps"_s});
    EXPECT_EQ(panel->clearSearchAction()->text(), u"Clear search"_s);

    QTest::keyClicks(panel->searchField(), u"zz"_s);
    EXPECT_TRUE(panel->sections().isEmpty());
    EXPECT_EQ(panel->nothingMatchesText(), u"Nothing matches “MAzz”"_s);
    QTest::keyClick(panel->searchField(), Qt::Key_Return); // nothing to open
    EXPECT_EQ(actions.calls.filter(u"launch"_s).size(), 1);

    panel->clearSearchAction()->trigger();
    EXPECT_EQ(store.search(), QString());
    EXPECT_EQ(panel->searchField()->text(), QString());
    EXPECT_FALSE(panel->clearSearchAction()->isVisible());
    EXPECT_TRUE(panel->nothingMatchesText().isEmpty());
    EXPECT_EQ(titles(*panel), (QStringList{u"Favourites"_s, u"All apps"_s}));

    store.setSearch(u"Ca"_s); // a search set elsewhere shows in the field
    EXPECT_EQ(panel->searchField()->text(), u"Ca"_s);
    EXPECT_EQ(titles(*panel), QStringList{u"Results"_s});

    // Escape undoes the search first, then dismisses; Return without a query opens nothing.
    QTest::keyClick(panel->searchField(), Qt::Key_Escape);
    EXPECT_EQ(store.search(), QString());
    EXPECT_EQ(dismissed.count(), 0);
    QTest::keyClick(panel->searchField(), Qt::Key_Return);
    QTest::keyClick(panel->searchField(), Qt::Key_Escape);
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_EQ(actions.calls.filter(u"launch"_s).size(), 1);
}

// Tiles draw the stored icon, launch on a click and mark their state; the dock leads with what plays.
TEST_F(MenuPanelTest, ShowingGreetsAndFitsTheGridTilesLaunchAndMarkTheirStateAndTheDockShowsWhatPlays) {
    QImage red(48, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    red.save(&png, "PNG");
    iconPng = png.data();
    const MobileApp maps = add(u"Maps"_s), notes = add(u"Notes"_s);
    for (int i = 0; i < 6; ++i)
        add(u"App %1"_s.arg(i));
    localHour = 4;
    auto panel = makePanel();
    EXPECT_EQ(panel->greeting(), u"Good night"_s);
    localHour = 5;
    panel->show();
    EXPECT_EQ(panel->greeting(), u"Good morning"_s);
    EXPECT_EQ(actions.calls, (QStringList{u"refreshAndroidState"_s, u"syncInstalledApps"_s}));
    EXPECT_EQ(panel->sections()[0]->columns(), 4);

    const QList<AppTile*> tiles = panel->tiles();
    EXPECT_FALSE(tiles[0]->hasIcon()); // a monogram until the icon arrives
    ASSERT_TRUE(waitUntil([&] { return tiles[0]->hasIcon(); }));
    EXPECT_EQ(tiles[0]->grab().toImage().pixelColor(tiles[0]->width() / 2, 30), QColor(Qt::red));

    QTest::mouseClick(tiles[1], Qt::LeftButton, {}, QPoint(38, 40));
    EXPECT_EQ(actions.calls.filter(u"launch"_s), QStringList{u"launch Notes"_s});
    QTest::mousePress(tiles[1], Qt::LeftButton, {}, QPoint(38, 40)); // dragged away: no click
    QTest::mouseRelease(tiles[1], Qt::LeftButton, {}, QPoint(200, 40));
    QTest::mouseClick(tiles[1], Qt::RightButton, {}, QPoint(38, 40));
    EXPECT_EQ(actions.calls.filter(u"launch"_s).size(), 1);

    store.setLaunchingAppID(notes.id);
    EXPECT_TRUE(tiles[1]->isLaunchingMarked());
    EXPECT_FALSE(tiles[0]->isLaunchingMarked() || tiles[0]->isRunningMarked());
    store.setLaunchingAppID(std::nullopt);
    store.setRunningAppIDs({notes.id});
    EXPECT_FALSE(tiles[1]->isLaunchingMarked());
    EXPECT_TRUE(tiles[1]->isRunningMarked());
    EXPECT_EQ(panel->dock()->title(), u"Notes"_s);
    actions.locked = true; // the lock's mark follows the sessions
    EventCenter::shared().post(VantleEvent::sessionsChanged);
    EXPECT_TRUE(tiles[0]->isLockedMarked());
    EXPECT_EQ(tiles[0]->accessibleDescription(), u"Locked with password"_s);
    actions.locked = false;
    EventCenter::shared().post(VantleEvent::sessionsChanged);
    EXPECT_FALSE(tiles[0]->isLockedMarked());
    EXPECT_EQ(tiles[0]->accessibleDescription(), QString());

    store.setRunningAppIDs({maps.id, notes.id});
    EXPECT_EQ(panel->dock()->title(), u"Maps"_s);
    EXPECT_EQ(panel->dock()->subtitle(), u"Running, with 1 more open"_s);
    store.setAndroidState(AndroidState::starting);
    store.setAndroidState(AndroidState::ready);
    EXPECT_EQ(panel->tiles(), tiles); // marks and Android's state change without rebuilding the grid

    auto* playPause = panel->dock()->findChild<QToolButton*>(u"dockPlayPause"_s);
    ASSERT_TRUE(playPause);
    store.setNowPlaying(AndroidMedia{u"Song"_s, u"Singer"_s, true}, notes.id);
    EXPECT_EQ(panel->dock()->title(), u"Notes"_s);
    EXPECT_EQ(panel->dock()->subtitle(), u"Song · Singer"_s);
    EXPECT_TRUE(playPause->isVisible());
    EXPECT_EQ(playPause->toolTip(), u"Pause"_s);
    playPause->click();
    EXPECT_EQ(actions.calls.filter(u"mediaKey"_s),
              QStringList{u"mediaKey "_s + notes.id.toString(QUuid::WithoutBraces) + u" 1"_s});
    store.setNowPlaying(AndroidMedia{u"Song"_s, {}, false}, notes.id);
    EXPECT_EQ(panel->dock()->subtitle(), u"Song"_s);
    EXPECT_EQ(playPause->toolTip(), u"Play"_s);

    store.setRunningAppIDs({maps.id}); // its window went before the record did
    EXPECT_EQ(panel->dock()->title(), u"Maps"_s);
    EXPECT_FALSE(playPause->isVisible());
    store.setRunningAppIDs({maps.id, notes.id});
    store.setNowPlaying(std::nullopt, std::nullopt);
    EXPECT_EQ(panel->dock()->title(), u"Maps"_s);
    EXPECT_FALSE(playPause->isVisible());

    panel->resize(600, 760);
    EXPECT_EQ(panel->sections()[0]->columns(), 6);
    add(u"One more"_s); // a rebuilt grid keeps the width's columns
    EXPECT_EQ(panel->sections()[0]->columns(), 6);
}

// The tile's and the panel's menus hold only what the application offers, in order.
TEST_F(MenuPanelTest, TileAndPanelMenusHoldTheirActionsInOrder) {
    const MobileApp maps = add(u"Maps"_s);
    add(u"Mail"_s, true);
    auto panel = makePanel();
    AppTile* tile = panel->sections()[1]->tiles()[0];
    ASSERT_EQ(tile->app().id, maps.id);
    auto menu = tile->makeContextMenu();
    EXPECT_EQ(menuTexts(*menu, u"Show APK in Files"_s),
              (QStringList{u"Add to favourites"_s, u"Show APK in Files"_s, u"Remove from Vantle"_s,
                           u"Uninstall from Android…"_s}));
    menuTexts(*menu, u"Uninstall from Android…"_s);
    EXPECT_EQ(actions.calls, (QStringList{u"reveal "_s + maps.sourcePath, u"confirmUninstall Maps"_s}));
    EXPECT_EQ(store.apps().size(), 2); // uninstalling is the application's, after it asked

    menuTexts(*menu, u"Add to favourites"_s);
    EXPECT_TRUE(store.app(maps.id)->isFavorite);
    EXPECT_EQ(names(panel->sections()[0]), (QStringList{u"Maps"_s, u"Mail"_s}));

    // The menu outlives the tile it came from once the entry is gone.
    menuTexts(*menu, u"Remove from Vantle"_s);
    EXPECT_FALSE(store.app(maps.id));
    EXPECT_EQ(store.statusMessage(), u"Removed Maps"_s);
    menu.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(names(panel->sections()[1]), QStringList{u"Mail"_s});

    actions.calls.clear();
    QMenu* panelMenu = panel->panelMenu();
    Q_EMIT panelMenu->aboutToShow();
    EXPECT_EQ(menuTexts(*panelMenu), (QStringList{u"Close all apps"_s, u"Quit Vantle"_s}));
    actions.presets = {u"Widget — 320 × 420"_s, u"Medium — 380 × 720"_s};
    Q_EMIT panelMenu->aboutToShow();
    EXPECT_EQ(menuTexts(*panelMenu), (QStringList{u"Window size"_s, u"Close all apps"_s, u"Quit Vantle"_s}));
    QMenu* sizes = panelMenu->actions().first()->menu();
    ASSERT_NE(sizes, nullptr);
    EXPECT_EQ(menuTexts(*sizes, u"Medium — 380 × 720"_s), actions.presets);
    menuTexts(*panelMenu, u"Close all apps"_s);
    menuTexts(*panelMenu, u"Quit Vantle"_s);
    EXPECT_EQ(actions.calls, (QStringList{u"applyWindowSize 1"_s, u"closeAllApps"_s, u"quit"_s}));

    // Everything offered: settings, backups, window sizes, the tray and the lock.
    actions.backups = true;
    actions.locked = true;
    actions.inTray = false;
    withSettings = true;
    auto full = makePanel();
    Q_EMIT full->panelMenu()->aboutToShow();
    EXPECT_EQ(menuTexts(*full->panelMenu()),
              (QStringList{u"Settings"_s, u"Restore from backup…"_s, u"Window size"_s, u"Close all apps"_s,
                           u"Quit Vantle"_s}));
    EXPECT_EQ(menuTexts(*full->tiles().first()->makeContextMenu()),
              (QStringList{u"Remove from favourites"_s, u"Show in tray"_s, u"Remove password lock"_s,
                           u"Back up app data…"_s, u"Show APK in Files"_s, u"Remove from Vantle"_s,
                           u"Uninstall from Android…"_s}));
    actions.inTray = true; // pinned: the same entry takes the item away
    EXPECT_EQ(menuTexts(*full->tiles().first()->makeContextMenu(), u"Remove from tray"_s).value(1),
              u"Remove from tray"_s);
    EXPECT_EQ(actions.calls.filter(u"Tray"_s), QStringList{u"toggleInTray"_s});
}

TEST_F(MenuPanelTest, PillAndDockDescribeEachAndroidStateAndASlowStart) {
    auto panel = makePanel();
    struct Row {
        AndroidState state;
        const char16_t *pill, *help, *title, *subtitle;
    };
    const Row rows[] = {
        {AndroidState::ready, u"Ready", u"Android is running. Apps open instantly.", u"Android is ready",
         u"Apps open instantly."},
        {AndroidState::starting, u"Starting", u"Android is starting.", u"Starting Android",
         u"Your app opens in a few seconds."},
        {AndroidState::sleeping, u"Sleeping",
         u"Android is off to save memory. It starts when you open an app.", u"Android is sleeping",
         u"Opening an app wakes it in about 10 seconds."},
        {AndroidState::notSetUp, u"Set up", u"Android has not been set up yet.", u"Android is not set up",
         u"Set it up above to start using apps."},
    };
    for (const Row& row : rows) {
        store.setAndroidState(row.state);
        EXPECT_EQ(panel->statusPill()->label(), QString::fromUtf16(row.pill));
        EXPECT_EQ(panel->statusPill()->toolTip(), QString::fromUtf16(row.help));
        EXPECT_EQ(panel->dock()->title(), QString::fromUtf16(row.title));
        EXPECT_EQ(panel->dock()->subtitle(), QString::fromUtf16(row.subtitle));
    }

    // A dock says when Android takes longer than usual to start; a new start is timed afresh.
    VantleDock dock(store, nullptr, std::chrono::milliseconds(100));
    store.setAndroidState(AndroidState::starting);
    EXPECT_EQ(dock.subtitle(), QString::fromUtf16(rows[1].subtitle));
    EXPECT_TRUE(waitUntil(
        [&] { return dock.subtitle() == u"Android is taking longer than usual to start."_s; }, 5000));
    store.setAndroidState(AndroidState::ready);
    EXPECT_EQ(dock.subtitle(), QString::fromUtf16(rows[0].subtitle));
    store.setAndroidState(AndroidState::starting);
    EXPECT_EQ(dock.subtitle(), QString::fromUtf16(rows[1].subtitle));
}
