// Android's notifications in a real app window: banner, shade and "Clear", updates, the quiet period (on a
// stepped clock), a locked app's stand-in text; the unread mark and a desktop notification clicked in dunst.
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

TEST_F(NotificationMirrorTest, BannerShadeClearQuietPeriodAndLockedAppsInAWindowOfItsOwn) {
    post(1, u"Already there"_s, u"before the window"_s);
    NotificationWatch::Clock::time_point now{};
    PostedNotifications notifier;
    const NotificationWatch::Now clock = [&] { return now; };
    AndroidWindowSession session({appID, package, u"Notes"_s, AndroidRuntimePaths::current().adb(),
                                  QString(AndroidRuntimeCLI::deviceSerial),
                                  RuntimeComponentLocator::androidBridge().server, std::nullopt, QIcon(),
                                  nullptr, &notifier, clock});
    QList<bool> unread;
    bool locked = false;
    bool ended = false;
    session.onUnread = [&](const QUuid& id, bool mark) {
        EXPECT_EQ(id, appID);
        unread.append(mark);
    };
    session.isLocked = [&](const QUuid&) { return locked; };
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
    // Hidden: an unread mark and a desktop notification; a locked app's message stays in Android.
    session.hide();
    unread.clear();
    post(5, u"Carla"_s, u"Call me"_s);
    ASSERT_TRUE(polled(&session));
    locked = true;
    post(6, u"Carla"_s, u"The code is 1234"_s);
    ASSERT_TRUE(polled(&session));
    post(7, QString(), u"Untitled"_s);
    locked = false;
    ASSERT_TRUE(polled(&session));
    EXPECT_EQ(unread, (QList<bool>{true, true, true}));
    EXPECT_EQ(notifier.posts,
              (QList<PostedNotifications::Post>{{u"Carla"_s, u"Notes"_s, u"Call me"_s, appID},
                                                {u"Notes"_s, QString(), u"New notification"_s, appID},
                                                {u"Notes"_s, QString(), u"Untitled"_s, appID}}));
    session.close(u"test"_s);
    EXPECT_EQ(unread.last(), false);
    EXPECT_TRUE(waitUntil([&] { return ended; }, 10000));
}

// A hidden window's notification marks the app unread ("Vantle.unreadChanged") and reaches the desktop's
// notification server through the registry's notifier; clicking it there asks to open the app.
TEST_F(NotificationMirrorTest, AHiddenWindowsNotificationReachesTheDesktopAndItsClickOpensTheApp) {
    NotificationServer server;
    ASSERT_EQ(server.start(), QString());
    registry.notifier = &desktop.emplace(DesktopNotifications::create());
    QStringList events;
    QObject observer;
    for (QLatin1StringView name : {VantleEvent::unreadChanged, VantleEvent::openAppRequest})
        EventCenter::shared().observe(name, &observer, [&events, name](const QVariantMap& info) {
            events.append(name + u' ' + info.value(u"id"_s).toString());
        });
    AndroidWindowSession* session = open();
    ASSERT_TRUE(polled(session));
    session->panel()->findChild<QToolButton*>(u"hide"_s)->click();
    post(1, u"Anna"_s, u"Lunch?"_s);
    ASSERT_TRUE(polled(session));
    EXPECT_TRUE(registry.unreadAppIDs().contains(appID));
    ASSERT_TRUE(waitUntil([] { return NotificationServer::displayed() == 1; }));
    NotificationServer::click();
    const QString id = appID.toString(QUuid::WithoutBraces);
    EXPECT_TRUE(waitUntil([&] { return events.contains(u"Vantle.openAppRequest "_s + id); }));
    EXPECT_EQ(NotificationServer::history(),
              (QList<QStringList>{{u"Vantle"_s, u"Anna"_s, u"Notes\nLunch?"_s}}));
    registry.bringForward(appID);
    EXPECT_FALSE(registry.unreadAppIDs().contains(appID));
    EXPECT_EQ(events.count(u"Vantle.unreadChanged "_s), 2);
}

} // namespace
