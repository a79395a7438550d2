#include "DesktopShellFixture.h"
#include "apk/AppIconStore.h"
#include "ui/AppTile.h"
#include "ui/MenuBarExtras.h"
#include "ui/SettingEffects.h"
#include "windows/VantleLayout.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <xcb/xcb.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList texts(const QMenu& menu) {
    QStringList result;
    for (const QAction* action : menu.actions())
        result.append(action->isSeparator() ? u"-"_s : action->text());
    return result;
}

// VANTLE_SCREENSHOTS=<folder> keeps pictures of the tray for scripts/take-screenshots.
void keepPicture(const QString& file, QRect area, int scale = 1) {
    const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS");
    if (folder.isEmpty()) return;
    QTest::qWait(300); // the tray host repaints after embedding
    area &= QRect(0, 0, 1280, 800);
    QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .scaled(area.size() * scale)
        .save(folder + u'/' + file);
}

// A real XEmbed tray (trayer) along the top edge of the program's X server, at the right.
class TrayItemsTest : public DesktopShellFixture {
protected:
    static void SetUpTestSuite() {
        tray = new QProcess;
        tray->start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--widthtype"_s,
                                  u"request"_s, u"--height"_s, u"24"_s, u"--SetDockType"_s, u"false"_s});
        waitUntil(&QSystemTrayIcon::isSystemTrayAvailable, 10000);
    }
    static void TearDownTestSuite() { delete tray; } // ends trayer
    void SetUp() override {
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "trayer did not take the tray";
        qputenv("VANTLE_HOME", home.path().toUtf8()); // no cached icons
    }
    // Where the tray host put the item, once it has embedded and mapped it: until it is viewable,
    // clicks there reach the tray host's own window and are lost.
    static QRect shown(QSystemTrayIcon* item) {
        waitUntil([item] { return item->geometry().x() > 0 && viewable(item->geometry()); });
        return item->geometry();
    }
    // Whether the tray icon window at `frame` (Qt's own, an XEmbed client) is viewable.
    static bool viewable(const QRect& frame) {
        for (const QWidget* widget : QApplication::topLevelWidgets()) {
            if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") != 0 ||
                QRect(widget->mapToGlobal(QPoint()), widget->size()) != frame)
                continue;
            xcb_connection_t* x = xcb_connect(nullptr, nullptr);
            xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
                x, xcb_get_window_attributes(x, xcb_window_t(widget->winId())), nullptr);
            const bool mapped = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
            xcb_disconnect(x);
            return mapped;
        }
        return false;
    }
    QImage shownImage(const QUuid& id) {
        return extras.item(id)
            ->icon()
            .pixmap(MenuBarExtras::iconPixels)
            .toImage()
            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }

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
    const auto click = [&](const char* button) {
        ASSERT_TRUE(xdotool({u"mousemove"_s, QString::number(frame.center().x()),
                             QString::number(frame.center().y()), u"click"_s, QString::fromLatin1(button)}));
    };
    click("1");
    ASSERT_TRUE(waitUntil([&] { return !actions.calls.isEmpty(); }));
    EXPECT_EQ(actions.calls, QStringList{u"launch Maps"_s});
    // The item is at the top right: the window hangs 4 points below it, 6 inside the screen's edge.
    const QPoint place(1280 - 390 - 6, frame.bottom() + 1 + 4);
    EXPECT_EQ(windows.pendingAnchor, QRectF(place, QSizeF(390, 0)));

    // A second click soon after the first comes as a double click; it counts as a click.
    windows.open = windows.visible = {maps.id};
    click("1");
    ASSERT_TRUE(waitUntil([&] { return !windows.calls.isEmpty(); }));
    windows.visible.clear(); // open but hidden: moved beside the item and opened (brought forward)
    click("1");
    ASSERT_TRUE(waitUntil([&] { return actions.calls.size() == 2; }));
    const QString id = RecordingAppWindows::name(maps.id);
    EXPECT_EQ(windows.calls,
              (QStringList{u"hide "_s + id, u"move %1,%2 "_s.arg(place.x()).arg(place.y()) + id}));

    click("3");
    ASSERT_TRUE(waitUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
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

TEST_F(TrayItemsTest, TheTileMenuOffersTheTrayItemOnlyWhereThereIsATray) {
    AppTile tile(add(u"Maps"_s), store, actions, icons);
    EXPECT_FALSE(texts(*tile.makeContextMenu()).contains(u"Show in tray"_s));
    actions.inTray = false;
    EXPECT_EQ(texts(*tile.makeContextMenu()).mid(0, 2),
              (QStringList{u"Add to favourites"_s, u"Show in tray"_s}));
    actions.inTray = true;
    const std::unique_ptr<QMenu> menu = tile.makeContextMenu();
    EXPECT_EQ(menu->actions().at(1)->text(), u"Remove from tray"_s);
    menu->actions().at(1)->trigger();
    EXPECT_EQ(actions.calls, QStringList{u"toggleInTray"_s});
}

TEST(MiniPlayerTitle, TitlesOfTwentyThreeCharactersOrMoreAreCutToTwentyOneAndAnEllipsis) {
    const struct {
        QString media, shown;
    } cases[] = {
        {u"Song"_s, u" Song"_s},
        {u"1234567890123456789012"_s, u" 1234567890123456789012"_s},  // 22: whole
        {u"12345678901234567890123"_s, u" 123456789012345678901…"_s}, // 23: cut
        {u"A very long title of a podcast episode"_s, u" A very long title of …"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MiniPlayer::titleFor(c.media), c.shown) << c.media.toStdString();
}

TEST_F(TrayItemsTest, TheMiniPlayerShowsWhileAnAppWithAWindowPlaysWithItsMenuInOrder) {
    const MobileApp radio = add(u"Radio"_s);
    extras.attach();
    store.setNowPlaying(AndroidMedia{u"Morning news and weather"_s, u"Station"_s, true}, radio.id);
    EXPECT_EQ(extras.player().item(), nullptr); // the app has no window
    windows.open = {radio.id};
    extras.rebuild(); // as on "Vantle.sessionsChanged"
    ASSERT_NE(extras.player().item(), nullptr);
    const QRect frame = shown(extras.player().item());
    EXPECT_EQ(extras.player().item()->toolTip(), u"Morning news and weat…"_s);
    keepPicture(u"tray-mini-player.png"_s, frame.adjusted(-60, -frame.top(), 0, 16), 3);

    // A right click at once after the previous test's items went (and before 0.3 s passed) opens
    // nothing on this tray host, though the item is viewable there; the click is given again.
    const auto popup = [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); };
    for (int attempt = 0; attempt < 3 && !popup(); ++attempt) {
        ASSERT_TRUE(xdotool({u"mousemove"_s, QString::number(frame.center().x()),
                             QString::number(frame.center().y()), u"click"_s, u"3"_s}));
        waitUntil([&] { return popup() != nullptr; }, 2000);
    }
    QMenu* menu = popup();
    ASSERT_NE(menu, nullptr);
    keepPicture(u"tray-mini-player-menu.png"_s, (menu->geometry() | frame).adjusted(-200, 0, 0, 8));
    EXPECT_EQ(texts(*menu),
              (QStringList{u"Morning news and weather"_s, u"Station"_s, u"-"_s, u"Pause"_s, u"Next"_s,
                           u"Previous"_s, u"-"_s, u"Show Radio"_s, u"Stop and close Radio"_s}));
    EXPECT_FALSE(menu->actions().at(0)->isEnabled() || menu->actions().at(1)->isEnabled());
    menu->actions().at(7)->trigger();
    menu->actions().at(8)->trigger();
    menu->close();
    const QString id = RecordingAppWindows::name(radio.id);
    EXPECT_TRUE(waitUntil([&] { return windows.calls == QStringList{u"show "_s + id, u"close "_s + id}; }));

    // Paused: two bars and "Play".
    store.setNowPlaying(AndroidMedia{u"Morning news and weather"_s, {}, false}, radio.id);
    EXPECT_EQ(extras.player()
                  .item()
                  ->icon()
                  .pixmap(MiniPlayer::iconPixels)
                  .toImage()
                  .convertToFormat(QImage::Format_ARGB32_Premultiplied),
              MiniPlayer::image(false));
    QMenu paused;
    extras.player().fillMenu(paused);
    EXPECT_EQ(texts(paused).mid(0, 3), (QStringList{u"Morning news and weather"_s, u"-"_s, u"Play"_s}));

    // The setting off takes it away and on brings it back, as the settings page changes it; the end
    // of playback takes it away.
    SettingEffects::change(SettingsKeys::miniPlayer.key(), false);
    EXPECT_EQ(extras.player().item(), nullptr);
    SettingEffects::change(SettingsKeys::miniPlayer.key(), true);
    EXPECT_NE(extras.player().item(), nullptr);
    store.setNowPlaying(std::nullopt, std::nullopt);
    EXPECT_EQ(extras.player().item(), nullptr);
}

} // namespace
