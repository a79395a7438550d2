#include "DesktopShellFixture.h"
#include "ui/SettingEffects.h"
#include "ui/VantleHotKey.h"

#include <xcb/xcb.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Real grabs on the program's own X server; keys pressed with xdotool reach the dispatcher.
class GlobalShortcutsTest : public DesktopShellFixture {
protected:
    // Presses `keys` then Alt+Space as a marker: X delivers in order, so once it arrived the keys have acted.
    void press(const QStringList& keys) {
        const qsizetype markers = log.count(u"hotkey pressed"_s);
        ASSERT_TRUE(xdotool(QStringList{u"key"_s} + keys + QStringList{u"alt+space"_s}));
        ASSERT_TRUE(waitUntil([&] { return log.count(u"hotkey pressed"_s) > markers; }));
        windows.calls.removeAll(u"home"_s);
    }

    MainLogSince log;
    std::unique_ptr<GlobalHotKeys> keys = GlobalHotKeys::create();
    AppShortcuts shortcuts{*keys, store, actions, windows};
    VantleHotKey hotKey{*keys, shortcuts, windows};
};

TEST_F(GlobalShortcutsTest,
       AltDigitsActOnTheOrderedLibraryAKeyHeldElsewhereIsReportedAndAltSpaceTogglesTheFirstWindow) {
    const MobileApp maps = add(u"Maps"_s), clock = add(u"Clock"_s);
    add(u"Notes"_s), add(u"Radio"_s);
    const MobileApp weather = add(u"Weather"_s, true); // third of the favourites, which come first
    add(u"Books"_s, true), add(u"Camera"_s, true);
    shortcuts.registerKeys();
    hotKey.registerKey();
    EXPECT_EQ(log.count(u"shortcuts: Alt+1-Alt+9 registered=9"_s), 1);
    EXPECT_EQ(log.count(u"hotkey Alt+Space register status=registered"_s), 1);

    press({u"alt+3"_s, u"alt+9"_s}); // seven apps: Alt+9 does nothing
    EXPECT_EQ(actions.calls, QStringList{u"launch Weather"_s});
    EXPECT_EQ(log.count(u"shortcut Alt+"_s), 1);
    EXPECT_EQ(log.count(u"shortcut Alt+3: Weather"_s), 1);

    // Now visible: Alt+3 hides the window, and again shows it (the launch brings it forward).
    windows.open = windows.visible = {weather.id};
    press({u"alt+3"_s});
    EXPECT_EQ(windows.calls, QStringList{u"hide "_s + RecordingAppWindows::name(weather.id)});
    press({u"alt+3"_s});
    EXPECT_EQ(actions.calls.size(), 2);

    // Switched off in the settings: the keys are released at once.
    SettingEffects::change(SettingsKeys::appShortcuts.key(), false);
    EXPECT_EQ(shortcuts.registeredCount(), 0);
    press({u"alt+1"_s});
    EXPECT_EQ(actions.calls.size(), 2);

    // On again while another X client holds Alt+5: that key is reported, the others grabbed and working.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    const xcb_keycode_t five = 14; // on Xvfb's keymap
    xcb_grab_key(other, 1, root, XCB_MOD_MASK_1, five, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); // a round trip
    SettingEffects::change(SettingsKeys::appShortcuts.key(), true);
    EXPECT_EQ(shortcuts.problems(), QStringList{u"Alt+5: another application holds this key (BadAccess)"_s});
    EXPECT_EQ(log.count(u"shortcut not registered Alt+5: another application holds this key"_s), 1);
    EXPECT_EQ(log.count(u"shortcuts: Alt+1-Alt+9 registered=8"_s), 1);
    press({u"alt+6"_s});
    EXPECT_EQ(actions.calls.value(2), u"launch Notes"_s);
    xcb_disconnect(other);
    SettingEffects::change(SettingsKeys::hotKey.key(), false);
    EXPECT_FALSE(hotKey.isRegistered());
    SettingEffects::change(SettingsKeys::hotKey.key(), true);
    EXPECT_TRUE(hotKey.isRegistered());
    EXPECT_EQ(log.count(u"hotkey Alt+Space register status=registered"_s), 2);

    // Alt+Space: the home panel while no window is open; then it hides or shows the first one.
    windows.calls.clear();
    windows.order = {maps.id, clock.id};
    ASSERT_TRUE(xdotool({u"key"_s, u"alt+space"_s}));
    ASSERT_TRUE(waitUntil([&] { return !windows.calls.isEmpty(); }));
    windows.open = {maps.id, clock.id};
    windows.visible = {maps.id};
    ASSERT_TRUE(xdotool({u"key"_s, u"alt+space"_s, u"alt+space"_s}));
    ASSERT_TRUE(waitUntil([&] { return windows.calls.size() == 3; }));
    const QString first = RecordingAppWindows::name(maps.id);
    EXPECT_EQ(windows.calls, (QStringList{u"home"_s, u"hide "_s + first, u"show "_s + first}));
}

} // namespace
