// The desktop over a private session bus: the colour scheme read from and followed through a desktop portal
// and carried into the simulated Android, and notifications through a real notification server (dunst on an X
// server of the test's own), read back and clicked with dunstctl.
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"
#include "integrations/MacNotifier.h"
#include "platform/DesktopAppearance.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtConcurrent>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The part of the XDG desktop portal's Settings interface that Vantle uses.
class FakePortal final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint colorScheme = 0;

public Q_SLOTS:
    // Like the real portal, the value comes wrapped in one variant more than the setting.
    QDBusVariant Read(const QString& settingNamespace, const QString& key) {
        if (settingNamespace != u"org.freedesktop.appearance"_s || key != u"color-scheme"_s) return {};
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
    }
Q_SIGNALS:
    void SettingChanged(const QString& settingNamespace, const QString& key, const QDBusVariant& value);
};

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
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
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

TEST(DesktopBusTest, DarkModeAndNotifications) {
    // A session bus without service activation (dunst runs only while the test runs it), made before anything
    // in this process uses the bus; QProcess kills the bus, Xvfb and dunst at the end.
    QTemporaryDir folder;
    ASSERT_TRUE(writeFile(folder.filePath(u"bus.conf"_s),
                          "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                          "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                          "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n"));
    QProcess bus, display, dunst;
    bus.start(u"dbus-daemon"_s,
              {u"--config-file="_s + folder.filePath(u"bus.conf"_s), u"--nofork"_s, u"--print-address"_s});
    ASSERT_TRUE(bus.waitForReadyRead(5000)) << "dbus-daemon did not start";
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    QDBusConnection session = QDBusConnection::sessionBus();
    ASSERT_TRUE(session.isConnected());
    ScopedSettings settings;
    {
        SCOPED_TRACE("the desktop's scheme is read from the portal, and Android follows a switch");
        EXPECT_FALSE(offThread(DesktopAppearance::prefersDark)); // no portal at all
        FakePortal portal;
        ASSERT_TRUE(
            session.registerObject(u"/org/freedesktop/portal/desktop"_s, &portal,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(session.registerService(u"org.freedesktop.portal.Desktop"_s));
        EXPECT_FALSE(offThread(DesktopAppearance::prefersDark)); // no preference
        for (const auto& [scheme, dark] : {std::pair{1u, true}, std::pair{2u, false}}) {
            portal.colorScheme = scheme;
            EXPECT_EQ(offThread(DesktopAppearance::prefersDark), dark);
        }
        AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark);
        EXPECT_TRUE(AndroidDarkMode::desktopIsDark()); // the command's override wins
        AndroidDarkMode::setOverride(AndroidDarkMode::Override::none);

        SimulatedAndroidHome android(35, 100);
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        QObject observer;
        AndroidDarkMode::startObserving(&observer);
        const auto night = [] {
            return offThread([] {
                       return AndroidRuntimeCLI::runADB({u"shell"_s, u"cmd uimode night"_s});
                   })
                .value_or(QString())
                .trimmed();
        };
        for (const auto& [scheme, wanted] :
             {std::pair{1u, u"Night mode: yes"_s}, std::pair{2u, u"Night mode: no"_s}}) {
            portal.colorScheme = scheme;
            Q_EMIT portal.SettingChanged(u"org.freedesktop.appearance"_s, u"color-scheme"_s,
                                         QDBusVariant(scheme));
            EXPECT_TRUE(waitUntil([&] { return night() == wanted; }, 5000)) << night().toStdString();
        }
    }
    display.start(u"Xvfb"_s,
                  {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"640x480x24"_s, u"-nolisten"_s, u"tcp"_s});
    ASSERT_TRUE(display.waitForReadyRead(10000)) << "Xvfb did not start";
    qputenv("DISPLAY", ":" + display.readLine().trimmed());
    // Nothing expires while the test looks at it; the body is markup, as most desktops have it.
    ASSERT_TRUE(writeFile(folder.filePath(u"dunstrc"_s),
                          "[global]\n    markup = full\n    history_length = 50\n    idle_threshold = 0\n"
                          "[urgency_low]\n    timeout = 0\n[urgency_normal]\n    timeout = 0\n"));
    dunst.start(u"dunst"_s, {u"-config"_s, folder.filePath(u"dunstrc"_s)});
    ASSERT_TRUE(waitUntil(serverRunning, 10000)) << "dunst did not take the notification service";
    MacNotifier notifier{DesktopNotifications::create()};
    FakeFileManager fileManager;
    ASSERT_TRUE(session.registerObject(u"/org/freedesktop/FileManager1"_s, &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(session.registerService(u"org.freedesktop.FileManager1"_s));
    {
        SCOPED_TRACE("a click on an app's notification asks to open the app; Android's texts stay text");
        QStringList opened;
        QObject observer;
        EventCenter::shared().observe(VantleEvent::openAppRequest, &observer, [&](const QVariantMap& info) {
            opened.append(info.value(u"id"_s).toString());
        });
        const QUuid mail = QUuid::createUuid();
        MainLogSince since;
        notifier.post(u"Mail"_s, u"Inbox"_s, u"New <b>message</b> & more"_s, mail);
        ASSERT_TRUE(waitUntil([&] { return since.count(u"mac notification posted: Mail"_s) == 1; }));
        ASSERT_TRUE(waitUntil([] { return dunstctl({u"count"_s, u"displayed"_s}) == u"1"_s; }));
        dunstctl({u"action"_s, u"0"_s});
        ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }));
        EXPECT_EQ(opened, QStringList{mail.toString(QUuid::WithoutBraces)});
        EXPECT_EQ(history(), (QList<QStringList>{{u"Vantle"_s, u"Mail"_s,
                                                  u"Inbox\nNew &lt;b&gt;message&lt;/b&gt; &amp; more"_s}}));
    }
    {
        SCOPED_TRACE("a click on a saved file's notification reveals it");
        notifier.post(u"Saved to your computer"_s, u"From Android"_s, u"Downloads › Vantle › report 2.pdf"_s,
                      std::nullopt, u"/home/user/Downloads/Vantle/report 2.pdf"_s);
        ASSERT_TRUE(waitUntil([] { return dunstctl({u"count"_s, u"displayed"_s}) == u"1"_s; }));
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
}

} // namespace

#include "DesktopBusTest.moc"
