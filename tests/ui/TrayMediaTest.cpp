// The mini player end to end: Notes plays in a real window, the item is in a real tray, its menu sends media
// keys.
#include "DesktopShellFixture.h"
#include "apk/AppIconStore.h"
#include "openapp/OpenAppFlow.h"
#include "ui/MenuBarExtras.h"
#include "ui/RegistryAppWindows.h"
#include "ui/SettingEffects.h"
#include "windows/AndroidAppPanel.h"
#include "windows/NotesWindowFixture.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// The application's media path: a key for an app goes to its window through the registry.
class RegistryMediaKeys : public RecordingLauncherActions {
    void mediaKey(const QUuid& appID, MediaAction action) override {
        AndroidWindowRegistry::shared().sendMediaKey(appID, action);
    }
};

class TrayMediaTest : public NotesWindowFixture {};

TEST_F(TrayMediaTest, TheMiniPlayerFollowsThePlayingWindowAndItsMenuReachesTheAppAsMediaKeys) {
    const std::unique_ptr<QProcess> tray = startTray(); // ends after the items below
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "trayer did not take the tray";
    AppLibraryStore store;
    OpenAppFlow flow(store); // copies the registry's now-playing record into the store
    store.setApps({androidApp(u"Notes"_s, u"/apks/notes.apk"_s, appID)});
    RegistryMediaKeys actions;
    RegistryAppWindows windows({});
    AppIconStore icons;
    MenuBarExtras extras(store, actions, windows, icons);
    extras.attach();

    // No item while the app that plays has no window.
    store.setNowPlaying(AndroidMedia{u"Radio news"_s, {}, true}, appID);
    EXPECT_EQ(extras.player().item(), nullptr);
    store.setNowPlaying(std::nullopt, std::nullopt);

    // The window opens at the top right, over the tray: out of the way.
    AndroidWindowSession* session = open();
    session->panel()->move(0, 200);
    EXPECT_EQ(extras.player().item(), nullptr);
    ASSERT_EQ(device().setMediaSession(package, u"playing"_s, u"A song with a rather long name"_s,
                                       u"Singer"_s, u"Album"_s),
              QString());
    ASSERT_TRUE(waitUntil([&] { return extras.player().item() != nullptr; }, 10000));
    EXPECT_EQ(extras.player().title(), u" A song with a rather …"_s);
    EXPECT_EQ(MiniPlayer::titleFor(u"1234567890123456789012"_s), u" 1234567890123456789012"_s); // 22: whole
    EXPECT_EQ(MiniPlayer::titleFor(u"12345678901234567890123"_s), u" 123456789012345678901…"_s);
    EXPECT_EQ(extras.player().item()->toolTip(), u"A song with a rather …"_s);
    const QRect frame = shown(extras.player().item());
    keepPicture(u"tray-mini-player.png"_s, frame.adjusted(-60, -frame.top(), 0, 16), 3);

    // The menu opened on the tray; "Show" brings the hidden window back.
    QMenu* menu = rightClick(frame);
    ASSERT_NE(menu, nullptr);
    keepPicture(u"tray-mini-player-menu.png"_s, (menu->geometry() | frame).adjusted(-200, 0, 0, 8));
    EXPECT_EQ(texts(*menu),
              (QStringList{u"A song with a rather long name"_s, u"Singer"_s, u"-"_s, u"Pause"_s, u"Next"_s,
                           u"Previous"_s, u"-"_s, u"Show Notes"_s, u"Stop and close Notes"_s}));
    EXPECT_FALSE(menu->actions().at(0)->isEnabled() || menu->actions().at(1)->isEnabled());
    session->panel()->hide();
    menu->actions().at(7)->trigger();
    EXPECT_TRUE(waitUntil([&] { return session->panel()->isVisible(); }));

    // Pause, Next and Previous: the app gets the keys and pauses; the item shows two bars.
    device().clearReceived();
    for (const int entry : {3, 4, 5})
        menu->actions().at(entry)->trigger();
    menu->close();
    ASSERT_TRUE(waitUntil([&] { return device().keysReceived().size() == 6; }));
    EXPECT_EQ(device().keysReceived(), (QList<qint64>{85, -85, 87, -87, 88, -88}));
    EXPECT_TRUE(waitUntil([&] { return store.nowPlaying() && !store.nowPlaying()->playing; }, 3000));
    EXPECT_EQ(iconImage(*extras.player().item(), MiniPlayer::iconPixels), MiniPlayer::image(false));

    // The setting off takes the item away and on brings it back, as the settings page changes it.
    SettingEffects::change(SettingsKeys::miniPlayer.key(), false);
    EXPECT_EQ(extras.player().item(), nullptr);
    SettingEffects::change(SettingsKeys::miniPlayer.key(), true);
    EXPECT_NE(extras.player().item(), nullptr);

    // Paused and without an artist: "Play", no line for one; the end of playback takes the item away.
    store.setNowPlaying(AndroidMedia{u"Radio news"_s, {}, false}, appID);
    QMenu bare;
    extras.player().fillMenu(bare);
    EXPECT_EQ(texts(bare).mid(0, 3), (QStringList{u"Radio news"_s, u"-"_s, u"Play"_s}));
    store.setNowPlaying(std::nullopt, std::nullopt);
    EXPECT_EQ(extras.player().item(), nullptr);

    // "Stop and close" ends the window and with it the item.
    bare.actions().last()->trigger();
    EXPECT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }, 10000));
    EXPECT_TRUE(waitUntil([&] { return extras.player().item() == nullptr; }));
}

} // namespace
