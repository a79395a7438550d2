// Desktop notifications through a real notification server: dunst on an X server of the test's own,
// on a private session bus. What the server received is read back with dunstctl, and clicks are
// made with it, as a user's click on the notification.
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/VantleEvents.h"
#include "integrations/MacNotifier.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
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

QString dunstctl(const QStringList& arguments) {
    QProcess process;
    process.start(u"dunstctl"_s, arguments);
    // The server answers on this thread's bus connection only through the daemon: no deadlock.
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
int displayed() {
    return dunstctl({u"count"_s, u"displayed"_s}).toInt();
}
bool serverRunning() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(u"org.freedesktop.Notifications"_s);
}
// Everything the server received (app name, summary, body), newest first; closes what is displayed.
QList<QStringList> history() {
    dunstctl({u"close-all"_s});
    const QJsonDocument json = QJsonDocument::fromJson(dunstctl({u"history"_s}).toUtf8());
    QList<QStringList> received;
    for (const QJsonValue& value : json.object().value(u"data"_s).toArray().at(0).toArray()) {
        received.append(QStringList());
        for (const QString& field : {u"appname"_s, u"summary"_s, u"body"_s})
            received.last().append(value.toObject().value(field).toObject().value(u"data"_s).toString());
    }
    return received;
}

TEST(DesktopNotificationsTest, PostedClickedOffAndFallback) {
    // A session bus without service activation (dunst runs only while the test runs it), and an X
    // server for dunst's windows; QProcess kills both when the test ends.
    QTemporaryDir folder;
    QFile config(folder.filePath(u"bus.conf"_s));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                 "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                 "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    config.close();
    QProcess bus, display, dunst;
    bus.start(u"dbus-daemon"_s,
              {u"--config-file="_s + config.fileName(), u"--nofork"_s, u"--print-address"_s});
    ASSERT_TRUE(bus.waitForReadyRead(5000)) << "dbus-daemon did not start";
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    QDBusConnection session = QDBusConnection::sessionBus();
    ASSERT_TRUE(session.isConnected());
    display.start(u"Xvfb"_s,
                  {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"640x480x24"_s, u"-nolisten"_s, u"tcp"_s});
    ASSERT_TRUE(display.waitForReadyRead(10000)) << "Xvfb did not start";
    qputenv("DISPLAY", ":" + display.readLine().trimmed());
    // Nothing expires while the test looks at it; the body is markup, as most desktops have it.
    QFile dunstrc(folder.filePath(u"dunstrc"_s));
    ASSERT_TRUE(dunstrc.open(QIODevice::WriteOnly));
    dunstrc.write("[global]\n    markup = full\n    history_length = 50\n    idle_threshold = 0\n"
                  "[urgency_low]\n    timeout = 0\n[urgency_normal]\n    timeout = 0\n"
                  "[urgency_critical]\n    timeout = 0\n");
    dunstrc.close();
    dunst.start(u"dunst"_s, {u"-config"_s, dunstrc.fileName()});
    ASSERT_TRUE(waitUntil(serverRunning, 10000)) << "dunst did not take the notification service";

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
        ASSERT_TRUE(waitUntil([] { return displayed() == 1; }));
        dunstctl({u"action"_s, u"0"_s});
        ASSERT_TRUE(waitUntil([&] { return !launched.isEmpty(); }));
        EXPECT_EQ(launched, QList<QUuid>{mail.id});
        EXPECT_EQ(history(), (QList<QStringList>{{u"Vantle"_s, u"Mail"_s,
                                                  u"Inbox\nNew &lt;b&gt;message&lt;/b&gt; &amp; more"_s}}));
    }
    {
        SCOPED_TRACE("a click on a saved file's notification reveals it");
        notifier.post(u"Saved to your computer"_s, u"From Android"_s, u"Downloads › Vantle › report 2.pdf"_s,
                      std::nullopt, u"/home/user/Downloads/Vantle/report 2.pdf"_s);
        ASSERT_TRUE(waitUntil([] { return displayed() == 1; }));
        dunstctl({u"action"_s, u"0"_s});
        EXPECT_TRUE(waitUntil([&] { return !fileManager.shown.isEmpty(); }));
        EXPECT_EQ(fileManager.shown, QStringList{u"file:///home/user/Downloads/Vantle/report%202.pdf"_s});
    }
    {
        SCOPED_TRACE("with the setting off nothing is posted");
        const qsizetype before = history().size();
        VantleSettings::set(SettingsKeys::desktopNotifications, false);
        MainLogSince since;
        notifier.post(u"Backup saved"_s, u"Notes"_s, u"Documents › Vantle Backups"_s);
        waitUntil([] { return false; }, 500);
        EXPECT_EQ(displayed(), 0);
        EXPECT_EQ(history().size(), before);
        EXPECT_TRUE(since.lines().isEmpty());
        VantleSettings::set(SettingsKeys::desktopNotifications, true);
    }
    {
        SCOPED_TRACE("the fallback command keeps quotes, backslashes and dashes");
        const QString title = u"-n He said \"hi\" \\ bye"_s;
        ASSERT_TRUE(DesktopNotifications::postWithCommand(title, u"C:\\path"_s, u"a \"b\" \\n <i>c</i>"_s));
        ASSERT_TRUE(waitUntil([&] { return history().value(0).value(1) == title; }));
        EXPECT_EQ(history().value(0).value(2), u"C:\\path\na \"b\" \\n &lt;i&gt;c&lt;/i&gt;"_s);
    }
    {
        SCOPED_TRACE("without a notification service the command is the fallback");
        dunst.kill();
        dunst.waitForFinished();
        ASSERT_TRUE(waitUntil([] { return !serverRunning(); }));
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
