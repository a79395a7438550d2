// The desktop's colour scheme, read from and followed through a desktop portal on a private
// session bus, and carried into the simulated Android.
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"
#include "platform/DesktopAppearance.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QtConcurrent>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The part of the XDG desktop portal's Settings interface that Vantle uses.
class FakePortal final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint colorScheme = 0;

    void change(uint scheme) {
        colorScheme = scheme;
        Q_EMIT SettingChanged(u"org.freedesktop.appearance"_s, u"color-scheme"_s, QDBusVariant(scheme));
    }

public Q_SLOTS:
    // Like the real portal, the value comes wrapped in one variant more than the setting.
    QDBusVariant Read(const QString& settingNamespace, const QString& key) {
        if (settingNamespace != u"org.freedesktop.appearance"_s || key != u"color-scheme"_s) return {};
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
    }

Q_SIGNALS:
    void SettingChanged(const QString& settingNamespace, const QString& key, const QDBusVariant& value);
};

// A session bus of the test's own; it must exist before anything in this process uses the bus.
class DarkModeTest : public ::testing::Test {
protected:
    static inline QProcess* bus = nullptr;

    static void SetUpTestSuite() {
        bus = new QProcess;
        bus->start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address"_s});
        ASSERT_TRUE(bus->waitForReadyRead(5000)) << "dbus-daemon did not start";
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->readLine().trimmed());
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    }
    static void TearDownTestSuite() {
        bus->kill();
        bus->waitForFinished();
        delete bus;
    }

    ScopedSettings settings;
    FakePortal portal;

    void startPortal() {
        QDBusConnection session = QDBusConnection::sessionBus();
        ASSERT_TRUE(
            session.registerObject(u"/org/freedesktop/portal/desktop"_s, &portal,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(session.registerService(u"org.freedesktop.portal.Desktop"_s));
    }
    void TearDown() override {
        QDBusConnection::sessionBus().unregisterService(u"org.freedesktop.portal.Desktop"_s);
        QDBusConnection::sessionBus().unregisterObject(u"/org/freedesktop/portal/desktop"_s);
    }
    // Blocking portal reads must not run on the thread that serves the fake portal.
    static std::optional<bool> read() {
        auto future = QtConcurrent::run(DesktopAppearance::prefersDark);
        waitUntil([&] { return future.isFinished(); });
        return future.result();
    }
};

TEST_F(DarkModeTest, TheDesktopsSchemeIsReadFromThePortal) {
    EXPECT_FALSE(read()); // no portal at all
    startPortal();
    EXPECT_FALSE(read()); // no preference
    portal.colorScheme = 1;
    EXPECT_EQ(read(), true);
    portal.colorScheme = 2;
    EXPECT_EQ(read(), false);

    AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark);
    EXPECT_TRUE(AndroidDarkMode::desktopIsDark()); // the command's override wins
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::none);
}

TEST_F(DarkModeTest, AndroidFollowsADesktopSwitch) {
    SimulatedAndroidHome android(35, 100);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    startPortal();
    QObject observer;
    AndroidDarkMode::startObserving(&observer);
    for (uint scheme : {1u, 2u}) {
        const QString wanted = scheme == 1 ? u"Night mode: yes"_s : u"Night mode: no"_s;
        portal.change(scheme);
        QString seen;
        ASSERT_TRUE(waitUntil(
            [&] {
                // adb blocks: asked from the pool while this thread serves the portal.
                auto night = QtConcurrent::run([] {
                    return AndroidRuntimeCLI::runADB({u"shell"_s, u"cmd uimode night"_s});
                });
                waitUntil([&] { return night.isFinished(); });
                seen = night.result().value_or(QString()).trimmed();
                return seen == wanted;
            },
            5000))
            << seen.toStdString();
    }
}

} // namespace

#include "DarkModeTest.moc"
