// The mini player end to end: Notes plays on the simulated Android in a real window; the tray item
// appears in a real tray, and its menu reaches the app as Android media keys.
#include "apk/AppIconStore.h"
#include "openapp/OpenAppFlow.h"
#include "ui/LauncherActions.h"
#include "ui/MenuBarExtras.h"
#include "ui/RegistryAppWindows.h"
#include "windows/AndroidAppPanel.h"
#include "windows/NotesWindowFixture.h"

#include <QApplication>
#include <QMenu>
#include <QProcess>

using namespace Qt::Literals::StringLiterals;

namespace {

// The application's media path: a key for an app goes to its window through the registry.
class RegistryMediaKeys final : public LauncherActions {
public:
    void launch(const MobileApp&) override {}
    void confirmUninstall(const MobileApp&) override {}
    void prewarm() override {}
    void refreshAndroidState() override {}
    void syncInstalledApps() override {}
    void closeAllApps() override {}
    QStringList windowSizePresets() const override { return {}; }
    void applyWindowSize(int) override {}
    void revealInFileManager(const QString&) override {}
    void quit() override {}
    void mediaKey(const QUuid& appID, MediaAction action) override {
        AndroidWindowRegistry::shared().sendMediaKey(appID, action);
    }
};

class TrayMediaTest : public NotesWindowFixture {
protected:
    static void SetUpTestSuite() {
        tray = new QProcess;
        tray->start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--widthtype"_s,
                                  u"request"_s, u"--height"_s, u"24"_s, u"--SetDockType"_s, u"false"_s});
        waitUntil(&QSystemTrayIcon::isSystemTrayAvailable, 10000);
    }
    static void TearDownTestSuite() { delete tray; }

    // The key codes the app received, pressed (down) and released (up, negative), in order.
    QList<qint64> keysReceived() const {
        QList<qint64> keys;
        for (const QJsonObject& event : device().received())
            if (event.value(u"message"_s).toInt() == 0 && event.contains(u"keycode"_s))
                keys.append(event.value(u"keycode"_s).toInteger() *
                            (event.value(u"action"_s).toInt() ? -1 : 1));
        return keys;
    }
    static QStringList texts(const QMenu& menu) {
        QStringList result;
        for (const QAction* action : menu.actions())
            result.append(action->isSeparator() ? u"-"_s : action->text());
        return result;
    }

    static inline QProcess* tray = nullptr;
};

TEST_F(TrayMediaTest, TheMiniPlayerFollowsThePlayingWindowAndItsMenuReachesTheAppAsMediaKeys) {
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "trayer did not take the tray";
    AppLibraryStore store;
    OpenAppFlow flow(store); // copies the registry's now-playing record into the store
    MobileApp notes{appID,
                    u"Notes"_s,
                    MobilePlatform::android,
                    u"/apks/notes.apk"_s,
                    {},
                    QDateTime::currentDateTimeUtc()};
    store.setApps({notes});
    RegistryMediaKeys actions;
    RegistryAppWindows windows({});
    AppIconStore icons;
    MenuBarExtras extras(store, actions, windows, icons);
    extras.attach();

    // The window opens at the top right, over the tray: out of the way.
    AndroidWindowSession* session = open();
    session->panel()->move(0, 200);
    EXPECT_EQ(extras.player().item(), nullptr);
    ASSERT_EQ(device().setMediaSession(package, u"playing"_s, u"A song with a rather long name"_s,
                                       u"Singer"_s, u"Album"_s),
              QString());
    ASSERT_TRUE(waitUntil([&] { return extras.player().item() != nullptr; }, 10000));
    EXPECT_EQ(extras.player().title(), u" A song with a rather …"_s);
    QSystemTrayIcon* item = extras.player().item();
    ASSERT_TRUE(waitUntil([&] { return item->geometry().x() > 0; })); // embedded by the tray

    // Pause from the menu opened on the tray: the app gets the key and pauses; the item follows.
    device().clearReceived();
    const QPoint at = item->geometry().center();
    ASSERT_EQ(QProcess::execute(u"xdotool"_s, {u"mousemove"_s, QString::number(at.x()),
                                               QString::number(at.y()), u"click"_s, u"3"_s}),
              0);
    ASSERT_TRUE(waitUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_EQ(texts(*menu).value(3), u"Pause"_s);
    menu->actions().at(3)->trigger();
    menu->close();
    ASSERT_TRUE(waitUntil([&] { return keysReceived().size() == 2; }));
    EXPECT_EQ(keysReceived(), (QList<qint64>{85, -85}));
    EXPECT_TRUE(waitUntil([&] { return store.nowPlaying() && !store.nowPlaying()->playing; }, 3000));
    QMenu paused;
    extras.player().fillMenu(paused);
    EXPECT_EQ(texts(paused).value(3), u"Play"_s);

    // Next and Previous; then "Stop and close" ends the window and with it the item.
    device().clearReceived();
    paused.actions().at(4)->trigger();
    paused.actions().at(5)->trigger();
    ASSERT_TRUE(waitUntil([&] { return keysReceived().size() == 4; }));
    EXPECT_EQ(keysReceived(), (QList<qint64>{87, -87, 88, -88}));
    paused.actions().last()->trigger();
    EXPECT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }, 10000));
    EXPECT_TRUE(waitUntil([&] { return extras.player().item() == nullptr; }));
}

} // namespace
