// Android's notifications in a real app window: banner, shade and "Clear", updates, the quiet period (on a
// stepped clock); hidden, the unread mark, a locked app's stand-in and desktop notifications clicked in
// dunst.
#include "NotesWindowFixture.h"
#include "core/VantleEvents.h"
#include "integrations/MacNotifier.h"
#include "integrations/NotificationShadeModel.h"
#include "runtime/AndroidRuntimePaths.h"
#include "support/NotificationServer.h"
#include "windows/AndroidAppPanel.h"
#include "windows/NotificationBannerView.h"
#include "windows/NotificationShadeView.h"

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

class NotificationMirrorTest : public NotesWindowFixture {
protected:
    std::optional<MacNotifier> desktop; // outlives the windows, which TearDown closes
    void post(int id, const QString& title, const QString& text) {
        ASSERT_EQ(device().postNotification(package, id, title, text, 0, false), QString());
    }
    // Polls until one poll started after this call has come back.
    static bool polled(AndroidWindowSession* session) {
        const int before = session->handledPolls();
        return waitUntil(
            [&] {
                session->pollNotifications(); // skipped while one is in flight
                return session->handledPolls() >= before + 2;
            },
            10000);
    }
    static QString bannerText(const AndroidWindowSession* session) {
        return session->banner()->titleLabel()->text() + u'\n' + session->banner()->bodyLabel()->text();
    }
};

TEST_F(NotificationMirrorTest, BannerShadeClearAndQuietPeriodInAWindowOfItsOwn) {
    post(1, u"Already there"_s, u"before the window"_s);
    NotificationWatch::Clock::time_point now{};
    AndroidWindowSession session({appID, package, u"Notes"_s, AndroidRuntimePaths::current().adb(),
                                  QString(AndroidRuntimeCLI::deviceSerial),
                                  RuntimeComponentLocator::androidBridge().server, std::nullopt, QIcon(),
                                  nullptr, nullptr, [&] { return now; }});
    QList<bool> cleared; // a visible window only clears its mark: when it starts and when it closes
    bool ended = false;
    session.onUnread = [&](const QUuid& id, bool mark) { cleared.append(id == appID && !mark); };
    session.onEnded = [&](AndroidWindowSession*, std::optional<QString>) { ended = true; };
    session.start();
    ASSERT_TRUE(waitUntil([&] { return !session.videoView()->currentFrame().isNull(); }, 30000));
    ASSERT_TRUE(polled(&session));
    EXPECT_FALSE(session.banner()->isVisible()) << "what was there when the window opened is not news";
    EXPECT_EQ(session.shadeModel().notifications().size(), 1);

    // A new notification, then an update in place with a new text.
    post(2, u"Anna"_s, u"Lunch?"_s);
    ASSERT_TRUE(polled(&session));
    EXPECT_TRUE(session.banner()->isVisible());
    EXPECT_EQ(bannerText(&session), u"Anna\nLunch?"_s);
    now += std::chrono::seconds(31);
    post(2, u"Anna"_s, u"Lunch at 1?"_s);
    ASSERT_TRUE(polled(&session));
    EXPECT_EQ(bannerText(&session), u"Anna\nLunch at 1?"_s);
    // Within 30 s of the key's last banner another update stays quiet.
    now += std::chrono::seconds(29);
    post(2, u"Anna"_s, u"Lunch at 2?"_s);
    ASSERT_TRUE(polled(&session));
    EXPECT_EQ(bannerText(&session), u"Anna\nLunch at 1?"_s);
    EXPECT_EQ(session.shadeModel().notifications().size(), 2);
    // The shade: Clear hides what is listed for the window's life; it keeps the banner quiet.
    session.panel()->findChild<QToolButton*>(u"notifications"_s)->click();
    ASSERT_TRUE(session.shade()->isOpen());
    session.shade()->findChild<QPushButton*>(u"clear"_s)->click();
    EXPECT_TRUE(session.shadeModel().notifications().isEmpty());
    ASSERT_TRUE(polled(&session));
    EXPECT_TRUE(session.shadeModel().notifications().isEmpty());
    session.banner()->dismiss();
    ASSERT_TRUE(waitUntil([&] { return !session.banner()->isVisible(); }));
    now += std::chrono::seconds(60);
    post(3, u"Ben"_s, u"Hi"_s);
    ASSERT_TRUE(polled(&session));
    EXPECT_FALSE(session.banner()->isVisible());
    ASSERT_EQ(session.shadeModel().notifications().size(), 1);
    EXPECT_EQ(session.shadeModel().notifications()[0].title, u"Ben"_s);
    session.toggleShade();
    EXPECT_FALSE(session.shade()->isOpen());
    EXPECT_TRUE(waitUntil([&] { return !session.shade()->isVisible(); })); // once it has faded out
    session.close(u"test"_s);
    EXPECT_EQ(cleared, (QList<bool>{true, true}));
    EXPECT_TRUE(waitUntil([&] { return ended; }, 10000));
}

// A hidden window's notifications mark the app unread and reach dunst through the registry's notifier,
// Android's texts as text and a locked app's as a stand-in; a click there asks to open the app.
TEST_F(NotificationMirrorTest, AHiddenWindowsNotificationsReachTheDesktopAndAClickOpensTheApp) {
    NotificationServer server;
    ASSERT_EQ(server.start(), QString());
    registry.notifier = &desktop.emplace(DesktopNotifications::create());
    bool locked = false;
    registry.setAppLock({[&](const QUuid&) { return locked; }, {}, {}});
    const auto unlocked = qScopeGuard([&] { registry.setAppLock({}); });
    QStringList opened;
    QObject observer;
    EventCenter::shared().observe(VantleEvent::openAppRequest, &observer, [&](const QVariantMap& info) {
        opened.append(info.value(u"id"_s).toString());
    });
    AndroidWindowSession* session = open();
    ASSERT_TRUE(polled(session));
    session->panel()->findChild<QToolButton*>(u"hide"_s)->click();
    post(1, u"Anna"_s, u"<b>Hi</b> & bye"_s);
    ASSERT_TRUE(polled(session));
    locked = true;
    post(2, u"Anna"_s, u"The code is 1234"_s);
    ASSERT_TRUE(polled(session));
    post(3, QString(), u"Untitled"_s);
    locked = false;
    ASSERT_TRUE(polled(session));
    EXPECT_TRUE(registry.unreadAppIDs().contains(appID));
    ASSERT_TRUE(waitUntil([] { return NotificationServer::displayed() == 3; }));
    for (int i = 0; i < 3; ++i)
        NotificationServer::click(); // each asks to open the app
    const QString id = appID.toString(QUuid::WithoutBraces);
    EXPECT_TRUE(waitUntil([&] { return opened == QStringList(3, id); }));
    EXPECT_EQ(logged(u"mac notification posted: "_s), (QStringList{u"Anna"_s, u"Notes"_s, u"Notes"_s}));
    EXPECT_EQ(NotificationServer::history(),
              (QList<QStringList>{{u"Vantle"_s, u"Notes"_s, u"Untitled"_s},
                                  {u"Vantle"_s, u"Notes"_s, u"New notification"_s},
                                  {u"Vantle"_s, u"Anna"_s, u"Notes\n&lt;b&gt;Hi&lt;/b&gt; &amp; bye"_s}}));
}

} // namespace
