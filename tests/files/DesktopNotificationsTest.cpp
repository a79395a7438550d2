// Desktop notifications through a real notification server: dunst on an X server of the test's own,
// on a private session bus (support/NotificationServer.h). What the server received is read back
// with dunstctl, and clicks are made with it, as a user's click on the notification.
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/VantleEvents.h"
#include "integrations/MacNotifier.h"
#include "support/NotificationServer.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// What the file manager is asked to show; the desktop's file managers implement this interface.
class FakeFileManager final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& /*startupId*/) { shown += uris; }
};

TEST(DesktopNotificationsTest, PostedClickedOffAndFallback) {
    NotificationServer server;
    ASSERT_EQ(server.start(), QString());
    QDBusConnection session = QDBusConnection::sessionBus();

    ScopedSettings settings;
    MacNotifier notifier{DesktopNotifications::create()};
    FakeFileManager fileManager;
    ASSERT_TRUE(session.registerObject(u"/org/freedesktop/FileManager1"_s, &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(session.registerService(u"org.freedesktop.FileManager1"_s));
    {
        SCOPED_TRACE("a click on an app's notification opens the app");
        QList<QUuid> launched;
        VantleApp::Steps steps;
        steps.launch = [&](const MobileApp& app) { launched.append(app.id); };
        VantleApp vantle(LaunchArguments{}, AppLibraryStore::Seams{}, steps);
        vantle.start();
        MobileApp mail;
        mail.id = QUuid::createUuid();
        mail.name = u"Mail"_s;
        mail.sourcePath = u"/apks/Mail.apk"_s;
        vantle.store().setApps({mail});
        MainLogSince since;
        // Android's texts are plain text, whatever they look like.
        notifier.post(u"Mail"_s, u"Inbox"_s, u"New <b>message</b> & more"_s, mail.id);
        ASSERT_TRUE(waitUntil([&] { return since.count(u"mac notification posted: Mail"_s) == 1; }));
        ASSERT_TRUE(waitUntil([] { return NotificationServer::displayed() == 1; }));
        NotificationServer::click();
        ASSERT_TRUE(waitUntil([&] { return !launched.isEmpty(); }));
        EXPECT_EQ(launched, QList<QUuid>{mail.id});
        EXPECT_EQ(NotificationServer::history(),
                  (QList<QStringList>{
                      {u"Vantle"_s, u"Mail"_s, u"Inbox\nNew &lt;b&gt;message&lt;/b&gt; &amp; more"_s}}));
    }
    {
        SCOPED_TRACE("a click on a saved file's notification reveals it");
        notifier.post(u"Saved to your computer"_s, u"From Android"_s, u"Downloads › Vantle › report 2.pdf"_s,
                      std::nullopt, u"/home/user/Downloads/Vantle/report 2.pdf"_s);
        ASSERT_TRUE(waitUntil([] { return NotificationServer::displayed() == 1; }));
        NotificationServer::click();
        EXPECT_TRUE(waitUntil([&] { return !fileManager.shown.isEmpty(); }));
        EXPECT_EQ(fileManager.shown, QStringList{u"file:///home/user/Downloads/Vantle/report%202.pdf"_s});
    }
    {
        SCOPED_TRACE("with the setting off nothing is posted");
        const qsizetype before = NotificationServer::history().size();
        VantleSettings::set(SettingsKeys::desktopNotifications, false);
        MainLogSince since;
        notifier.post(u"Backup saved"_s, u"Notes"_s, u"Documents › Vantle Backups"_s);
        waitUntil([] { return false; }, 500);
        EXPECT_EQ(NotificationServer::displayed(), 0);
        EXPECT_EQ(NotificationServer::history().size(), before);
        EXPECT_TRUE(since.lines().isEmpty());
        VantleSettings::set(SettingsKeys::desktopNotifications, true);
    }
    {
        SCOPED_TRACE("the fallback command keeps quotes, backslashes and dashes");
        const QString title = u"-n He said \"hi\" \\ bye"_s;
        ASSERT_TRUE(DesktopNotifications::postWithCommand(title, u"C:\\path"_s, u"a \"b\" \\n <i>c</i>"_s));
        ASSERT_TRUE(waitUntil([&] { return NotificationServer::history().value(0).value(1) == title; }));
        EXPECT_EQ(NotificationServer::history().value(0).value(2),
                  u"C:\\path\na \"b\" \\n &lt;i&gt;c&lt;/i&gt;"_s);
    }
    {
        SCOPED_TRACE("without a notification service the command is the fallback");
        server.stop();
        ASSERT_TRUE(waitUntil([] { return !NotificationServer::running(); }));
        MainLogSince since;
        notifier.post(u"Mail"_s, {}, u"New message"_s);
        ASSERT_TRUE(waitUntil([&] { return !since.lines().isEmpty(); }));
        EXPECT_TRUE(since.lines().first().startsWith(u"mac notification failed: "_s))
            << since.lines().first().toStdString();
        EXPECT_TRUE(since.lines().first().endsWith(u" - using fallback"_s));
    }
    session.unregisterService(u"org.freedesktop.FileManager1"_s);
    session.unregisterObject(u"/org/freedesktop/FileManager1"_s);
}

} // namespace

#include "DesktopNotificationsTest.moc"
