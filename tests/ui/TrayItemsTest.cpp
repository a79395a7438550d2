#include "DesktopShellFixture.h"
#include "apk/AppIconStore.h"
#include "ui/AppTile.h"
#include "ui/MenuBarExtras.h"
#include "windows/VantleLayout.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList texts(const QMenu& menu) {
    QStringList result;
    for (const QAction* action : menu.actions())
        result.append(action->isSeparator() ? u"-"_s : action->text());
    return result;
}

// A real XEmbed tray (trayer) on the test's X server, along the top edge at the right.
class TrayItemsTest : public DesktopShellFixture {
protected:
    static void SetUpTestSuite() {
        tray = new QProcess;
        tray->start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--widthtype"_s,
                                  u"request"_s, u"--height"_s, u"24"_s, u"--SetDockType"_s, u"false"_s});
        waitUntil(&QSystemTrayIcon::isSystemTrayAvailable, 10000);
    }
    static void TearDownTestSuite() {
        tray->terminate();
        tray->waitForFinished(5000);
        delete tray;
    }
    void SetUp() override {
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "trayer did not take the tray";
        qputenv("VANTLE_HOME", home.path().toUtf8()); // no cached icons: monograms
    }

    // Waits until the tray host has embedded the item and says where it is.
    static QRect shown(QSystemTrayIcon* item) {
        if (!item) return {};
        waitUntil([item] { return item->geometry().isValid() && item->geometry().x() > 0; });
        return item->geometry();
    }

    static inline QProcess* tray = nullptr;
    QTemporaryDir home;
    AppIconStore icons;
};

TEST_F(TrayItemsTest, PinnedAppsAreRealTrayItemsThatFollowTheLibrary) {
    const MobileApp maps = add(u"Maps"_s), clock = add(u"Clock"_s), notes = add(u"Notes"_s);
    // An entry whose APK has an icon: the item shows a monogram until the icon store has it.
    MobileApp vector = add(u"Vector"_s);
    vector.sourcePath = QStringLiteral(VANTLE_TEST_APKS "/adaptive_vector.apk");
    store.replaceSource(vector.id, QUrl::fromLocalFile(vector.sourcePath), {});
    MenuBarExtras extras(store, actions, windows, icons);
    extras.attach();
    EXPECT_TRUE(extras.itemIDs().isEmpty());
    extras.togglePinned(vector.id);
    const QImage monogram = MenuBarExtras::itemImage(std::nullopt, u"Vector"_s, false);
    const auto shownImage = [&](const QUuid& id) {
        return extras.item(id)
            ->icon()
            .pixmap(MenuBarExtras::iconPixels)
            .toImage()
            .convertToFormat(monogram.format());
    };
    EXPECT_EQ(shownImage(vector.id), monogram);
    EXPECT_TRUE(waitUntil([&] { return icons.images().contains(vector.id); }));
    EXPECT_NE(shownImage(vector.id), monogram);
    store.setUnreadAppIDs({clock.id});

    // Pinning a second and a third app adds an item each, in pinning order.
    extras.togglePinned(clock.id);
    extras.togglePinned(notes.id);
    extras.togglePinned(maps.id);
    EXPECT_EQ(MenuBarExtras::pinnedIDs(), (QList<QUuid>{vector.id, clock.id, notes.id, maps.id}));
    EXPECT_EQ(VantleSettings::get(SettingsKeys::menuBarApps).size(), 4);
    QRect all;
    for (const QUuid& id : {vector.id, clock.id, notes.id, maps.id}) {
        all |= shown(extras.item(id));
        EXPECT_EQ(extras.item(id)->toolTip(), store.app(id)->displayName());
    }
    EXPECT_EQ(shownImage(clock.id),
              MenuBarExtras::itemImage(std::nullopt, u"Clock"_s, true)); // the unread dot
    // VANTLE_SCREENSHOTS=<folder> keeps a picture of the tray (scripts/take-screenshots).
    if (const QString shots = qEnvironmentVariable("VANTLE_SCREENSHOTS"); !shots.isEmpty()) {
        QTest::qWait(300); // the tray host repaints after embedding
        const QRect around = all.adjusted(-40, 0, 0, 16) & QRect(0, 0, 1280, 800);
        QGuiApplication::primaryScreen()
            ->grabWindow(0, around.x(), 0, around.width(), around.bottom() + 1)
            .scaled(around.width() * 3, (around.bottom() + 1) * 3)
            .save(shots + u"/tray-pinned-apps.png"_s);
    }

    // Unpinning and removing from the library take the items away; a stale pinned id is skipped.
    extras.togglePinned(notes.id);
    store.remove(maps);
    EXPECT_EQ(extras.itemIDs().size(), 2);
    EXPECT_FALSE(extras.itemIDs().contains(notes.id) || extras.itemIDs().contains(maps.id));
    EXPECT_EQ(MenuBarExtras::pinnedIDs(), (QList<QUuid>{vector.id, clock.id, maps.id}));
}

TEST_F(TrayItemsTest, ALeftClickOpensTheAppBesideItsItemOrHidesItsVisibleWindow) {
    VantleLayout::setSize({390, 760});
    const MobileApp maps = add(u"Maps"_s);
    MenuBarExtras extras(store, actions, windows, icons);
    extras.attach();
    extras.togglePinned(maps.id);
    const QRect frame = shown(extras.item(maps.id));
    ASSERT_TRUE(frame.isValid());
    const auto click = [&](const QString& button) {
        ASSERT_TRUE(xdotool({u"mousemove"_s, QString::number(frame.center().x()),
                             QString::number(frame.center().y()), u"click"_s, button}));
    };

    click(u"1"_s);
    ASSERT_TRUE(waitUntil([&] { return !actions.calls.isEmpty(); }));
    EXPECT_EQ(actions.calls, QStringList{u"launch Maps"_s});
    // The tray sits at the top right: the window hangs 4 points below the item, 6 inside the edge.
    ASSERT_TRUE(windows.pendingAnchor.has_value());
    EXPECT_EQ(*windows.pendingAnchor, QRectF(1280 - 390 - 6, frame.bottom() + 1 + 4, 390, 0));

    windows.open.insert(maps.id);
    windows.visible.insert(maps.id);
    click(u"1"_s);
    ASSERT_TRUE(waitUntil([&] { return !windows.calls.isEmpty(); }));
    EXPECT_EQ(windows.calls, QStringList{u"hide "_s + RecordingAppWindows::name(maps.id)});

    // Open but hidden: moved beside the item and brought forward by the launch.
    windows.calls.clear();
    click(u"1"_s);
    ASSERT_TRUE(waitUntil([&] { return actions.calls.size() == 2; }));
    EXPECT_EQ(windows.calls, QStringList{u"move %1 %2,%3"_s.arg(RecordingAppWindows::name(maps.id))
                                             .arg(1280 - 390 - 6)
                                             .arg(frame.bottom() + 1 + 4)});

    // A right click pops up the item's menu.
    click(u"3"_s);
    ASSERT_TRUE(waitUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (const QString shots = qEnvironmentVariable("VANTLE_SCREENSHOTS"); !shots.isEmpty()) {
        QTest::qWait(300);
        const QRect around = (menu->geometry() | frame).adjusted(-200, 0, 0, 8) & QRect(0, 0, 1280, 800);
        QGuiApplication::primaryScreen()
            ->grabWindow(0, around.x(), around.y(), around.width(), around.height())
            .save(shots + u"/tray-item-menu.png"_s);
    }
    EXPECT_EQ(texts(*menu), (QStringList{u"Show Maps"_s, u"Close Maps"_s, u"-"_s, u"Remove from tray"_s}));
    menu->close();
}

TEST_F(TrayItemsTest, TheMenuFollowsTheWindowAndTheLockAndUnpinsItsOwnItem) {
    const MobileApp maps = add(u"Maps"_s);
    MenuBarExtras extras(store, actions, windows, icons);
    extras.togglePinned(maps.id);
    QMenu menu;
    extras.fillMenu(menu, maps.id);
    EXPECT_EQ(texts(menu), (QStringList{u"Open Maps"_s, u"-"_s, u"Remove from tray"_s}));

    // With the app lock (here: locked) the lock entry comes before the separator.
    actions.locked = true;
    extras.fillMenu(menu, maps.id);
    EXPECT_EQ(texts(menu),
              (QStringList{u"Open Maps"_s, u"Remove password lock"_s, u"-"_s, u"Remove from tray"_s}));

    extras.fillMenu(menu, maps.id);
    menu.actions().last()->trigger();
    EXPECT_TRUE(waitUntil([&] { return extras.itemIDs().isEmpty(); }));
    EXPECT_TRUE(MenuBarExtras::pinnedIDs().isEmpty());
}

TEST_F(TrayItemsTest, ItemImagesAreTheClippedIconOrAMonogramWithTheUnreadDot) {
    QImage blue(64, 64, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    const int n = MenuBarExtras::iconPixels;
    struct Case {
        std::optional<QImage> icon;
        bool unread;
        QColor middle;
        bool redCorner;
    };
    for (const Case& c : {Case{blue, false, Qt::blue, false}, Case{blue, true, Qt::blue, true},
                          Case{std::nullopt, true, QColor(0xAF, 0x52, 0xDE), true}}) {
        const QImage image = MenuBarExtras::itemImage(c.icon, u"maps"_s, c.unread);
        ASSERT_EQ(image.size(), QSize(n, n));
        EXPECT_EQ(image.pixelColor(0, n - 1).alpha(), 0); // the rounded corner is clipped
        EXPECT_EQ(image.pixelColor(n / 4, n - n / 4), c.middle);
        const QColor corner = image.pixelColor(n - n / 10, n / 10);
        EXPECT_EQ(corner.red() > 200 && corner.green() < 100 && corner.blue() < 100, c.redCorner);
    }
}

TEST_F(TrayItemsTest, TheTileMenuOffersTheTrayItemOnlyWhereThereIsATray) {
    const MobileApp maps = add(u"Maps"_s);
    AppTile tile(maps, store, actions, icons);
    EXPECT_FALSE(texts(*tile.makeContextMenu()).contains(u"Show in tray"_s));
    actions.inTray = false;
    EXPECT_EQ(texts(*tile.makeContextMenu()).mid(0, 2),
              (QStringList{u"Add to favourites"_s, u"Show in tray"_s}));
    actions.inTray = true;
    const std::unique_ptr<QMenu> menu = tile.makeContextMenu();
    QAction* remove = menu->actions().at(1);
    EXPECT_EQ(remove->text(), u"Remove from tray"_s);
    remove->trigger();
    EXPECT_EQ(actions.calls, QStringList{u"toggleInTray"_s});
}

} // namespace
