#include "DesktopShellFixture.h"
#include "ui/VantleHotKey.h"

#include <QGuiApplication>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Real grabs on the test's X server; keys pressed with xdotool reach the dispatcher.
class GlobalShortcutsTest : public DesktopShellFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), u"xcb"_s);
        keys = GlobalHotKeys::create();
        ASSERT_EQ(keys->unavailableReason(), QString());
        shortcuts = std::make_unique<AppShortcuts>(*keys, store, actions, windows);
        hotKey = std::make_unique<VantleHotKey>(*keys, *shortcuts, windows);
    }

    // Presses `key`, then Alt+Space as a marker, and waits for the marker: whatever `key` did has
    // happened by then (X delivers in order), and so has nothing when it did nothing.
    void press(const QString& key) {
        const qsizetype markers = log.count(u"hotkey pressed"_s);
        ASSERT_TRUE(xdotool({u"key"_s, key, u"alt+space"_s}));
        ASSERT_TRUE(waitUntil([&] { return log.count(u"hotkey pressed"_s) > markers; }));
        windows.calls.removeAll(u"home"_s);
    }

    MainLogSince log;
    std::unique_ptr<GlobalHotKeys> keys;
    std::unique_ptr<AppShortcuts> shortcuts;
    std::unique_ptr<VantleHotKey> hotKey;
};

TEST_F(GlobalShortcutsTest, AltDigitsActOnTheOrderedLibraryAndHideAVisibleWindow) {
    // Seven apps, three of them favourites: the favourites come first, each group by name.
    for (const QString& name : {u"Maps"_s, u"Clock"_s, u"Notes"_s, u"Radio"_s})
        add(name);
    const MobileApp weather = add(u"Weather"_s, true);
    add(u"Books"_s, true);
    add(u"Camera"_s, true);
    shortcuts->registerKeys();
    hotKey->registerKey();
    EXPECT_EQ(log.count(u"shortcuts: Alt+1-Alt+9 registered=9"_s), 1);
    EXPECT_EQ(log.count(u"hotkey Alt+Space register status=registered"_s), 1);

    press(u"alt+3"_s);
    EXPECT_EQ(actions.calls, QStringList{u"launch Weather"_s});
    EXPECT_EQ(log.count(u"shortcut Alt+3: Weather"_s), 1);

    press(u"alt+9"_s); // seven apps: nothing
    EXPECT_EQ(actions.calls, QStringList{u"launch Weather"_s});
    EXPECT_TRUE(windows.calls.isEmpty());

    // Its window is now open and visible: Alt+3 hides it, and again shows it (through the launch,
    // which brings an open window forward).
    windows.open.insert(weather.id);
    windows.visible.insert(weather.id);
    press(u"alt+3"_s);
    EXPECT_EQ(windows.calls, QStringList{u"hide "_s + RecordingAppWindows::name(weather.id)});
    press(u"alt+3"_s);
    EXPECT_EQ(actions.calls, (QStringList{u"launch Weather"_s, u"launch Weather"_s}));

    // Switched off in the settings, the digits go back to the other applications.
    VantleSettings::set(SettingsKeys::appShortcuts, false);
    shortcuts->registerKeys();
    EXPECT_EQ(shortcuts->registeredCount(), 0);
    press(u"alt+1"_s);
    EXPECT_EQ(actions.calls.size(), 2);
}

TEST_F(GlobalShortcutsTest, AltSpaceTogglesTheFirstWindowOrShowsTheHomePanel) {
    hotKey->registerKey();
    const MobileApp maps = add(u"Maps"_s);
    const MobileApp clock = add(u"Clock"_s);
    const QString first = RecordingAppWindows::name(maps.id);
    windows.order = {maps.id, clock.id};

    ASSERT_TRUE(xdotool({u"key"_s, u"alt+space"_s}));
    ASSERT_TRUE(waitUntil([&] { return !windows.calls.isEmpty(); }));
    EXPECT_EQ(windows.calls, QStringList{u"home"_s});

    windows.calls.clear();
    windows.open = {maps.id, clock.id};
    windows.visible = {maps.id};
    for (int press = 0; press < 2; ++press)
        ASSERT_TRUE(xdotool({u"key"_s, u"alt+space"_s}));
    ASSERT_TRUE(waitUntil([&] { return windows.calls.size() == 2; }));
    EXPECT_EQ(windows.calls, (QStringList{u"hide "_s + first, u"show "_s + first}));

    // Off in the settings: the key is released.
    VantleSettings::set(SettingsKeys::hotKey, false);
    hotKey->registerKey();
    EXPECT_FALSE(hotKey->isRegistered());
}

TEST_F(GlobalShortcutsTest, AKeyAnotherApplicationHoldsIsReportedAndTheOthersStillWork) {
    // Another X client grabs Alt+5 first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(other);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, '5');
    ASSERT_NE(codes, nullptr);
    xcb_generic_error_t* error =
        xcb_request_check(other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_1, codes[0],
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    EXPECT_EQ(error, nullptr);
    free(error);
    free(codes);
    xcb_key_symbols_free(symbols);

    for (int i = 0; i < 6; ++i)
        add(u"App %1"_s.arg(i + 1));
    shortcuts->registerKeys();
    hotKey->registerKey();
    EXPECT_EQ(shortcuts->registeredCount(), 8);
    EXPECT_EQ(shortcuts->problems(), QStringList{u"Alt+5: another application holds this key (BadAccess)"_s});
    EXPECT_EQ(log.count(u"shortcut not registered Alt+5: another application holds this key"_s), 1);
    EXPECT_EQ(log.count(u"shortcuts: Alt+1-Alt+9 registered=8"_s), 1);

    press(u"alt+6"_s);
    EXPECT_EQ(actions.calls, QStringList{u"launch App 6"_s});
    xcb_disconnect(other);
}

} // namespace
