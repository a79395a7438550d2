#include "ui/LoginItem.h"

#include "core/SettingsKeys.h"
#include "platform/Locations.h"
#include "platform/LoginRegistration.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A home of its own, so the autostart entry starts absent.
class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previousHome = qgetenv("VANTLE_HOME");
        qputenv("VANTLE_HOME", home.path().toUtf8());
    }
    void TearDown() override { qputenv("VANTLE_HOME", m_previousHome); }

    static QString validate() {
        QProcess validator;
        validator.setProcessChannelMode(QProcess::MergedChannels);
        validator.start(u"desktop-file-validate"_s, {Locations::autostartEntry()});
        if (!validator.waitForFinished(10000)) return u"desktop-file-validate did not run"_s;
        const QString output = QString::fromUtf8(validator.readAll());
        return validator.exitCode() == 0 && output.trimmed().isEmpty() ? QString() : output;
    }

    QTemporaryDir home;
    ScopedSettings settings;

private:
    QByteArray m_previousHome;
};

TEST_F(LoginItemTest, OpensAtLoginByDefaultOnceAndNeverOverrulesTheUserLater) {
    MainLogSince log;
    LoginItem::enableByDefaultOnce();
    EXPECT_TRUE(LoginItem::isEnabled());
    EXPECT_EQ(validate(), QString());
    EXPECT_TRUE(VantleSettings::get(SettingsKeys::loginItemDefaulted));
    EXPECT_EQ(log.count(u"open at login enabled=true status=enabled"_s), 1);

    // The user switches it off; the next start leaves it off.
    EXPECT_EQ(LoginItem::set(false), std::nullopt);
    EXPECT_FALSE(QFile::exists(Locations::autostartEntry()));
    LoginItem::enableByDefaultOnce();
    EXPECT_FALSE(LoginItem::isEnabled());
    EXPECT_EQ(log.count(u"open at login enabled=false status=notRegistered"_s), 1);
    EXPECT_EQ(LoginItem::set(false), std::nullopt); // already off
}

TEST_F(LoginItemTest, TheEntryRunsAnyAbsolutePathAndRefusesOneItCannotHold) {
    // Every character the Exec line reserves, and a field code look-alike.
    EXPECT_EQ(LoginRegistration::enable(u"/opt/My Apps/$HOME \"q\" `x` back\\slash 100%/vantle"_s),
              std::nullopt);
    EXPECT_EQ(validate(), QString());
    QFile entry(Locations::autostartEntry());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains(
        R"(Exec="/opt/My Apps/\\$HOME \\"q\\" \\`x\\` back\\\\slash 100%%/vantle")"));
    EXPECT_NE(LoginRegistration::enable(u"/opt/two\nlines"_s), std::nullopt);
    EXPECT_NE(LoginRegistration::enable(u"relative/vantle"_s), std::nullopt);
}

TEST_F(LoginItemTest, AnEntryTheDesktopIgnoresCountsAsOffAndAFailureIsTheUsersText) {
    for (const QByteArray off : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Locations::autostartEntry()).absolutePath()));
        QFile entry(Locations::autostartEntry());
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        entry.write("[Desktop Entry]\nType=Application\nName=Vantle\nExec=vantle\n" + off);
        entry.close();
        EXPECT_EQ(LoginRegistration::status(), LoginRegistration::Status::disabled) << off.constData();
        EXPECT_FALSE(LoginItem::isEnabled());
    }

    // The autostart folder cannot be made: a file stands where it should be.
    const QString folder = QFileInfo(Locations::autostartEntry()).absolutePath();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const std::optional<QString> error = LoginItem::set(true);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, u"Your desktop did not allow this: cannot create the folder "_s + folder);
    EXPECT_FALSE(LoginItem::isEnabled());
}

} // namespace
