#include "DesktopShellFixture.h"
#include "apk/AppIconStore.h"
#include "ui/MenuBarExtras.h"
#include "windows/VantleLayout.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Pinned apps as items in a real tray.
class TrayItemsTest : public DesktopShellFixture {
protected:
    static void SetUpTestSuite() { tray = startTray().release(); }
    static void TearDownTestSuite() { delete tray; } // ends trayer
    void SetUp() override {
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "trayer did not take the tray";
        qputenv("VANTLE_HOME", home.path().toUtf8()); // no cached icons
    }
    QImage shownImage(const QUuid& id) { return iconImage(*extras.item(id), MenuBarExtras::iconPixels); }

    static inline QProcess* tray = nullptr;
    QTemporaryDir home;
    AppIconStore icons;
    MenuBarExtras extras{store, actions, windows, icons};
};

TEST_F(TrayItemsTest, PinnedAppsAreRealTrayItemsThatFollowTheLibraryTheIconsAndTheUnreadMarks) {
    const MobileApp maps = add(u"Maps"_s), clock = add(u"Clock"_s), notes = add(u"Notes"_s),
                    vector = add(u"Vector"_s, false, QStringLiteral(VANTLE_TEST_APKS "/adaptive_vector.apk"));
    extras.attach();
    store.setUnreadAppIDs({clock.id});
    for (const MobileApp& app : {vector, clock, notes, maps})
        extras.togglePinned(app.id);
    EXPECT_EQ(MenuBarExtras::pinnedIDs(), (QList<QUuid>{vector.id, clock.id, notes.id, maps.id}));
    QRect all;
    for (const MobileApp& app : {vector, clock, notes, maps}) {
        all |= shown(extras.item(app.id));
        EXPECT_EQ(extras.item(app.id)->toolTip(), app.displayName());
    }
    // A monogram until the icon store has the APK's icon; a red dot while unread.
    EXPECT_EQ(shownImage(clock.id), MenuBarExtras::itemImage(std::nullopt, u"Clock"_s, true));
    EXPECT_TRUE(waitUntil([&] { return icons.images().contains(vector.id); }));
    EXPECT_EQ(shownImage(vector.id), MenuBarExtras::itemImage(icons.images().value(vector.id), {}, false));
    keepPicture(u"tray-pinned-apps.png"_s, all.adjusted(-40, -all.top(), 0, 16), 3);

    // Unpinning and leaving the library take items away; the stale pinned id stays, skipped.
    extras.togglePinned(notes.id);
    store.remove(maps);
    const QList<QUuid> left = extras.itemIDs();
    EXPECT_EQ(QSet<QUuid>(left.cbegin(), left.cend()), (QSet<QUuid>{vector.id, clock.id}));
    EXPECT_EQ(MenuBarExtras::pinnedIDs(), (QList<QUuid>{vector.id, clock.id, maps.id}));
}

TEST_F(TrayItemsTest, AClickOpensTheAppBesideItsItemOrHidesItsWindowAndARightClickShowsItsMenu) {
    VantleLayout::setSize({390, 760});
    const MobileApp maps = add(u"Maps"_s);
    extras.togglePinned(maps.id);
    const QRect frame = shown(extras.item(maps.id));
    const auto click = [&] {
        ASSERT_TRUE(xdotool({u"mousemove"_s, QString::number(frame.center().x()),
                             QString::number(frame.center().y()), u"click"_s, u"1"_s}));
    };
    click();
    ASSERT_TRUE(waitUntil([&] { return !actions.calls.isEmpty(); }));
    EXPECT_EQ(actions.calls, QStringList{u"launch Maps"_s});
    // The item is at the top right: the window hangs 4 points below it, 6 inside the screen's edge.
    const QPoint place(1280 - 390 - 6, frame.bottom() + 1 + 4);
    EXPECT_EQ(windows.pendingAnchor, QRectF(place, QSizeF(390, 0)));

    // A second click soon after the first comes as a double click; it counts as a click.
    windows.open = windows.visible = {maps.id};
    click();
    ASSERT_TRUE(waitUntil([&] { return !windows.calls.isEmpty(); }));
    windows.visible.clear(); // open but hidden: moved beside the item and opened (brought forward)
    click();
    ASSERT_TRUE(waitUntil([&] { return actions.calls.size() == 2; }));
    const QString id = RecordingAppWindows::name(maps.id);
    EXPECT_EQ(windows.calls,
              (QStringList{u"hide "_s + id, u"move %1,%2 "_s.arg(place.x()).arg(place.y()) + id}));

    QMenu* menu = rightClick(frame);
    ASSERT_NE(menu, nullptr);
    keepPicture(u"tray-item-menu.png"_s, (menu->geometry() | frame).adjusted(-200, 0, 0, 8));
    EXPECT_EQ(texts(*menu), (QStringList{u"Show Maps"_s, u"Close Maps"_s, u"-"_s, u"Remove from tray"_s}));
    menu->close();

    // Closed, and with the app lock: open, the lock, and unpinning, which takes the item away.
    windows.open.clear();
    actions.locked = true;
    QMenu closed;
    extras.fillMenu(closed, maps.id);
    EXPECT_EQ(texts(closed),
              (QStringList{u"Open Maps"_s, u"Remove password lock"_s, u"-"_s, u"Remove from tray"_s}));
    closed.actions().last()->trigger();
    EXPECT_TRUE(waitUntil([&] { return extras.itemIDs().isEmpty(); }));
}

} // namespace
