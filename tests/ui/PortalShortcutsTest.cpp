#include "DesktopShellFixture.h"
#include "support/PrivateSessionBus.h"
#include "ui/SettingEffects.h"
#include "ui/VantleHotKey.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

using namespace Qt::Literals::StringLiterals;

namespace {

// Offscreen, as on Wayland: the real xdg-desktop-portal on a private bus, pointed by its portal file at
// the stand-in desktop portal-shortcuts-backend.py. The dispatch rules are GlobalShortcutsTest's.
class PortalShortcutsTest : public DesktopShellFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(bus.start().toStdString(), "");
        // Debian's Python, which python3-dbus and python3-gi belong to.
        backend.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        backend.start(u"/usr/bin/python3"_s,
                      {QStringLiteral(VANTLE_PORTAL_BACKEND), backendName, folder.path()});
        ASSERT_TRUE(backend.waitForReadyRead(10000)) << "the stand-in desktop did not start";
        // xdg-desktop-portal 1.16 uses the *.portal files there whose UseIn= names the current desktop.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DESKTOP_PORTAL_DIR"_s, folder.path());
        environment.insert(u"XDG_CURRENT_DESKTOP"_s, u"vantletest"_s);
        portal.setProcessEnvironment(environment);
        portal.setStandardErrorFile(QProcess::nullDevice()); // its warnings about refused keys are noise
        portal.start(u"/usr/libexec/xdg-desktop-portal"_s);
        const auto running = [] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                u"org.freedesktop.portal.Desktop"_s);
        };
        ASSERT_TRUE(waitUntil(running, 10000)) << "xdg-desktop-portal did not take its name";
    }
    // Steers the stand-in (see its header): another process, so a blocking call cannot deadlock.
    static QVariantList control(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(backendName, u"/org/freedesktop/portal/desktop"_s,
                                                           u"org.vantle.test.Backend"_s, method);
        call.setArguments(arguments);
        return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000).arguments();
    }
    static bool activate(const QString& id) { return control(u"Activate"_s, {id}).value(0).toBool(); }
    static QStringList binds() { return control(u"State"_s).value(0).toStringList(); }
    static QStringList closed() { return control(u"State"_s).value(1).toStringList(); }
    // Presses the key through the desktop and waits until the dispatcher acted (a new call).
    bool press(const QString& shortcutID, const QStringList& calls) {
        const qsizetype before = calls.size();
        return activate(shortcutID) && waitUntil([&] { return calls.size() > before; });
    }
    bool waitForLine(const QString& line, qsizetype times = 1) {
        return waitUntil([&] { return log.count(line) == times; }, 10000);
    }
    // The one bind request the desktop saw as "<session> <id>=<trigger>,…": the session, the pairs.
    static std::pair<QString, QStringList> bind(qsizetype index) {
        const QStringList parts = binds().value(index).split(u' ');
        return {parts.value(0), parts.value(1).split(u',', Qt::SkipEmptyParts)};
    }

    static inline const QString backendName = u"org.freedesktop.impl.portal.desktop.vantletest"_s;
    QTemporaryDir folder;
    PrivateSessionBus bus; // ends after the portal and the stand-in
    QProcess backend, portal;
    MainLogSince log;
};

TEST_F(PortalShortcutsTest, KeysAreBoundInOneRequestPressesArriveAChangeRebindsAndALostPortalIsReported) {
    add(u"Maps"_s), add(u"Clock"_s), add(u"Notes"_s);
    QStringList allTen{u"vantle-key-1=ALT+space"_s};
    for (int n = 1; n <= 9; ++n)
        allTen.append(u"vantle-key-1%1=ALT+%1"_s.arg(n));
    auto keys = std::make_optional(GlobalHotKeys::create());
    ASSERT_EQ((*keys)->unavailableReason(), QString());
    auto shortcuts = std::make_optional<AppShortcuts>(**keys, store, actions, windows);
    auto hotKey = std::make_optional<VantleHotKey>(**keys, *shortcuts, windows);

    // Asked, not yet answered: nothing is reported as registered before the desktop says so.
    shortcuts->registerKeys();
    hotKey->registerKey();
    EXPECT_EQ(log.count(u"shortcuts: Alt+1-Alt+9"_s), 0);
    EXPECT_EQ(log.count(u"hotkey Alt+Space"_s), 0);
    EXPECT_FALSE(hotKey->isRegistered());
    ASSERT_TRUE(waitForLine(u"shortcuts: Alt+1-Alt+9 registered=9"_s));
    ASSERT_TRUE(waitForLine(u"hotkey Alt+Space register status=registered (Press ALT+space)"_s));
    EXPECT_TRUE(hotKey->isRegistered());
    EXPECT_EQ(shortcuts->problems(), QStringList());
    // Ten adds in one turn of the loop: one session, one bind with the desktop's triggers.
    ASSERT_EQ(binds().size(), 1);
    const auto [firstSession, firstKeys] = bind(0);
    EXPECT_EQ(firstKeys, allTen);

    // A press reaches the dispatcher with its key: Alt+3 launches the third app.
    ASSERT_TRUE(press(u"vantle-key-13"_s, actions.calls));
    EXPECT_EQ(actions.calls, QStringList{u"launch Notes"_s});
    EXPECT_EQ(log.count(u"shortcut Alt+3: Notes"_s), 1);

    // Switched off: the nine go at once, a new session binds Alt+Space alone, the old one is closed.
    SettingEffects::change(SettingsKeys::appShortcuts.key(), false);
    EXPECT_EQ(shortcuts->registeredCount(), 0);
    ASSERT_TRUE(waitUntil([] { return binds().size() == 2; }));
    const auto [secondSession, secondKeys] = bind(1);
    EXPECT_EQ(secondKeys, QStringList{u"vantle-key-1=ALT+space"_s});
    EXPECT_NE(secondSession, firstSession);
    ASSERT_TRUE(waitUntil([&] { return closed() == QStringList{firstSession}; }));
    EXPECT_FALSE(activate(u"vantle-key-13"_s));
    ASSERT_TRUE(press(u"vantle-key-1"_s, windows.calls));
    EXPECT_EQ(windows.calls, QStringList{u"home"_s});
    EXPECT_EQ(log.count(u"hotkey Alt+Space register status="_s), 1); // held throughout: said once

    // On again while the desktop declines Alt+5 and Alt+Space: both reported in its words, the rest work.
    control(u"Answer"_s, {QStringList{u"vantle-key-15"_s, u"vantle-key-1"_s}, false});
    SettingEffects::change(SettingsKeys::appShortcuts.key(), true);
    ASSERT_TRUE(waitForLine(u"shortcuts: Alt+1-Alt+9 registered=8"_s));
    EXPECT_EQ(shortcuts->problems(), QStringList{u"Alt+5: the desktop did not bind it"_s});
    EXPECT_EQ(log.count(u"shortcut not registered Alt+5: the desktop did not bind it"_s), 1);
    EXPECT_EQ(log.count(u"hotkey Alt+Space register status=failed (the desktop did not bind it)"_s), 1);
    EXPECT_FALSE(hotKey->isRegistered());
    ASSERT_EQ(binds().size(), 3);
    EXPECT_EQ(bind(2).second, allTen);
    ASSERT_TRUE(press(u"vantle-key-12"_s, actions.calls));
    EXPECT_EQ(actions.calls.last(), u"launch Maps"_s);
    EXPECT_FALSE(activate(u"vantle-key-1"_s));
    control(u"Answer"_s, {QStringList(), false});

    // Gone with its owner: the session is closed.
    const QString thirdSession = bind(2).first;
    hotKey.reset(), shortcuts.reset(), keys.reset();
    ASSERT_TRUE(waitUntil([&] { return closed().contains(thirdSession); }));

    // The user cancels the desktop's dialog: a failure in the desktop's terms; asked again, granted.
    keys = GlobalHotKeys::create();
    shortcuts.emplace(**keys, store, actions, windows);
    hotKey.emplace(**keys, *shortcuts, windows);
    control(u"Answer"_s, {QStringList(), true});
    hotKey->registerKey();
    ASSERT_TRUE(waitForLine(
        u"hotkey Alt+Space register status=failed (the desktop's dialog to bind the shortcuts was cancelled)"_s));
    EXPECT_FALSE(hotKey->isRegistered());
    control(u"Answer"_s, {QStringList(), false});
    hotKey->registerKey();
    ASSERT_TRUE(waitForLine(u"hotkey Alt+Space register status=registered"_s, 2));

    // The portal leaves the bus: the keys held become unavailable, said once in the log.
    portal.terminate();
    portal.waitForFinished();
    ASSERT_TRUE(waitForLine(u"hotkeys unavailable: "_s));
    const QString lost = (*keys)->unavailableReason();
    EXPECT_TRUE(lost.contains(u"the desktop portal (org.freedesktop.portal.Desktop) left the session bus"_s))
        << lost.toStdString();
    EXPECT_TRUE(log.lines().filter(u"hotkeys unavailable: "_s).value(0).endsWith(lost));
    EXPECT_FALSE(hotKey->isRegistered());

    // Started without a portal on the bus: unavailable, and says why.
    hotKey.reset(), shortcuts.reset(), keys.reset();
    keys = GlobalHotKeys::create();
    shortcuts.emplace(**keys, store, actions, windows);
    hotKey.emplace(**keys, *shortcuts, windows);
    const QString reason = u"Global shortcuts are not available: this desktop has no X11 session and its "
                           u"portal offers no GlobalShortcuts interface."_s;
    EXPECT_EQ(hotKey->unavailableReason(), reason);
    shortcuts->registerKeys();
    EXPECT_EQ(log.count(u"shortcuts: Alt+1-Alt+9 registered=0 ("_s + reason + u')'), 1);
}

} // namespace
