// The desktop over a private session bus: the colour scheme read from and followed through a desktop portal
// and carried into the simulated Android, and notifications through a real notification server (dunst on an X
// server of the test's own), read back and clicked with dunstctl; an app's, clicked, in the window tests.
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"
#include "integrations/MacNotifier.h"
#include "platform/DesktopAppearance.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "support/NotificationServer.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusVariant>
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

TEST(DesktopBusTest, DarkModeAndNotifications) {
    NotificationServer server; // a private session bus, before anything in this process uses the bus
    ASSERT_EQ(server.start(), QString());
    QDBusConnection session = QDBusConnection::sessionBus();
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
        AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark);
        EXPECT_TRUE(AndroidDarkMode::desktopIsDark()); // the command's override wins
        AndroidDarkMode::setOverride(AndroidDarkMode::Override::none);

        SimulatedAndroidHome android(35, 100);
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        QObject observer;
        AndroidDarkMode::startObserving(&observer);
        const auto night = [] {
            return offThread([] { return AndroidRuntimeCLI::runADB({u"shell"_s, u"cmd uimode night"_s}); });
        };
        for (const auto& [scheme, dark, wanted] :
             {std::tuple{1u, true, u"Night mode: yes"_s}, std::tuple{2u, false, u"Night mode: no"_s}}) {
            portal.colorScheme = scheme;
            EXPECT_EQ(offThread(DesktopAppearance::prefersDark), dark);
            Q_EMIT portal.SettingChanged(u"org.freedesktop.appearance"_s, u"color-scheme"_s,
                                         QDBusVariant(scheme));
            EXPECT_TRUE(waitUntil([&] { return night().value_or(QString()).trimmed() == wanted; }, 5000));
        }
    }
    MacNotifier notifier{DesktopNotifications::create()};
    FakeFileManager fileManager;
    ASSERT_TRUE(session.registerObject(u"/org/freedesktop/FileManager1"_s, &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(session.registerService(u"org.freedesktop.FileManager1"_s));
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
        VantleSettings::set(SettingsKeys::desktopNotifications, false);
        MainLogSince since;
        notifier.post(u"Backup saved"_s, u"Notes"_s, u"Documents › Vantle Backups"_s);
        // Posted or failed, a notification leaves a line in the log.
        EXPECT_FALSE(waitUntil([&] { return !since.lines().isEmpty(); }, 500));
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
        const QString line = since.lines().first();
        EXPECT_TRUE(line.startsWith(u"mac notification failed: "_s) && line.endsWith(u" - using fallback"_s))
            << line.toStdString();
    }
}

} // namespace

#include "DesktopBusTest.moc"
