// On the simulated Android: the mini player end to end (Notes plays in a real window, the item is in a real
// tray, its menu sends media keys), then the Android settings page's controls read back from the device.
#include "DesktopShellFixture.h"
#include "RecordingSettingsActions.h"
#include "apk/AppIconStore.h"
#include "integrations/DeviceSettings.h"
#include "openapp/OpenAppFlow.h"
#include "provisioning/AndroidVersions.h"
#include "sim/AvdConfig.h"
#include "ui/MenuBarExtras.h"
#include "ui/RegistryAppWindows.h"
#include "ui/SettingEffects.h"
#include "ui/SettingsView.h"
#include "windows/AndroidAppPanel.h"
#include "windows/NotesWindowFixture.h"

#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

// What the device answers to a shell `command`; "config:<key>" reads the key from its configuration.
QString readBack(const QString& command) {
    const AndroidRuntimePaths paths = AndroidRuntimePaths::current();
    if (command.startsWith(u"config:"_s))
        return AvdConfig::load(*paths.avdHome, paths.avdName).value_or(AvdConfig{}).value(command.mid(7));
    const auto answer = offThread([command] { return AndroidRuntimeCLI::runADB({u"shell"_s, command}); });
    return answer.value_or(u"(adb failed)"_s).trimmed();
}

// The application's media path: a key for an app goes to its window through the registry.
class RegistryMediaKeys : public RecordingLauncherActions {
    void mediaKey(const QUuid& appID, MediaAction action) override {
        AndroidWindowRegistry::shared().sendMediaKey(appID, action);
    }
};

class ShellOnAndroidTest : public NotesWindowFixture {};

TEST_F(ShellOnAndroidTest,
       TheMiniPlayerFollowsThePlayingWindowItsMenuSendsMediaKeysAndTheAndroidPageReachesTheDevice) {
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

    // The Android page: each control's change reaches Android at once (the values: RuntimeDeviceTest).
    RecordingSettingsActions settingsActions;
    SettingsView view(store, actions, settingsActions);
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark); // the desktop as the command sets it
    const QString dns = u"settings get global private_dns_"_s;
    const struct {
        QLatin1StringView key;
        QVariant value;            // a switch is clicked once, a choice is picked
        QString command, expected; // read back from the device or its configuration
    } rows[] = {
        {SettingsKeys::adBlock.name, false, dns + u"mode"_s, u"opportunistic"_s},
        {SettingsKeys::adBlock.name, true, dns + u"mode"_s, u"hostname"_s},
        {SettingsKeys::adBlockHost.name, AndroidAdBlock::providers()[2].host, dns + u"specifier"_s,
         AndroidAdBlock::providers()[2].host},
        // Off leaves Android as it is; on carries the desktop's dark mode over.
        {SettingsKeys::syncDarkMode.name, false, u"cmd uimode night"_s, u"Night mode: no"_s},
        {SettingsKeys::syncDarkMode.name, true, u"cmd uimode night"_s, u"Night mode: yes"_s},
        {SettingsKeys::micCamera.name, true, u"config:hw.audioInput"_s, u"yes"_s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QString(row.key).toStdString() + " " + row.value.toString().toStdString());
        const QString key(row.key);
        ASSERT_TRUE(setControl(view, key, row.value));
        EXPECT_EQ(VantleSettings::store().value(key), row.value);
        EXPECT_TRUE(waitUntil([&] { return readBack(row.command) == row.expected; }, 5000))
            << readBack(row.command).toStdString();
    }
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::none);

    // Only Android 15 is here: the others need a download, and the current one cannot be deleted.
    auto* picker = view.findChild<QComboBox*>(SettingsKeys::androidAPI.key());
    const auto itemText = [picker](int api) { return picker->itemText(picker->findData(api)); };
    EXPECT_EQ(picker->currentText(), u"Android 15"_s);
    EXPECT_EQ(itemText(34), u"Android 14 (needs a download)"_s);
    EXPECT_EQ(view.findChildren<QPushButton*>(u"deleteVersion"_s).size(), 0);

    ASSERT_EQ(SimulatedAndroidHome::install(34), QString());
    view.show(); // shown again: the page reads what is installed
    EXPECT_EQ(itemText(34), u"Android 14"_s);
    const auto deletes = view.findChildren<QPushButton*>(u"deleteVersion"_s);
    ASSERT_EQ(deletes.size(), 1);
    EXPECT_EQ(deletes[0]->parentWidget()->objectName(), u"installedVersion34"_s);
    auto* confirm = view.findChild<QWidget*>(u"confirmDelete"_s);
    deletes[0]->click();
    EXPECT_FALSE(confirm->isHidden());
    view.findChild<QPushButton*>(u"cancelDeleteVersion"_s)->click();
    EXPECT_TRUE(confirm->isHidden());
    EXPECT_TRUE(AndroidVersions::installed().contains(34));

    settingsActions.onDelete = [&flow](int api) { flow.deleteAndroidVersion(api); };
    deletes[0]->click();
    view.findChild<QPushButton*>(u"confirmDeleteVersion"_s)->click();
    EXPECT_EQ(settingsActions.calls, QStringList{u"deleteAndroidVersion 34"_s});
    EXPECT_EQ(AndroidVersions::installed(), QList<int>{35});
    EXPECT_TRUE(AndroidRuntimePaths::current().isComplete()); // the current one is untouched
    EXPECT_TRUE(view.findChildren<QPushButton*>(u"deleteVersion"_s).isEmpty());
    EXPECT_EQ(itemText(34), u"Android 14 (needs a download)"_s);

    // Picking another version asks the application to switch; picking the current one does nothing.
    settingsActions.calls.clear();
    for (const int api : {35, 33})
        ASSERT_TRUE(setControl(view, SettingsKeys::androidAPI.key(), api));
    EXPECT_EQ(settingsActions.calls, QStringList{u"switchAndroidVersion 33"_s});
}

} // namespace
