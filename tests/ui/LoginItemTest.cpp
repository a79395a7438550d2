#include "ui/LoginItem.h"

#include "core/SettingsKeys.h"
#include "platform/Locations.h"
#include "platform/LoginRegistration.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// In a home of its own, where the autostart entry starts absent.
class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("VANTLE_HOME", home.path().toUtf8()); }
    void TearDown() override { qputenv("VANTLE_HOME", previousHome); }
    static QString entry() { return Locations::autostartEntry(); }
    static bool validates() { return QProcess::execute(u"desktop-file-validate"_s, {entry()}) == 0; }

    QByteArray previousHome = qgetenv("VANTLE_HOME");
    QTemporaryDir home;
    ScopedSettings settings;
};

TEST_F(LoginItemTest, OpensAtLoginByDefaultOnceAndNeverOverrulesTheUserLater) {
    MainLogSince log;
    LoginItem::enableByDefaultOnce();
    EXPECT_TRUE(LoginItem::isEnabled() && validates());
    EXPECT_EQ(log.count(u"open at login enabled=true status=enabled"_s), 1);

    EXPECT_EQ(LoginItem::set(false), std::nullopt); // the user switches it off
    LoginItem::enableByDefaultOnce();
    EXPECT_FALSE(QFile::exists(entry()));
    EXPECT_EQ(log.count(u"open at login enabled=false status=notRegistered"_s), 1);
}

TEST_F(LoginItemTest, TheExecLineHoldsAnyAbsolutePathAndAnEntryTheDesktopSkipsCountsAsOff) {
    EXPECT_EQ(LoginRegistration::enable(u"/opt/My Apps/$HOME \"q\" `x` back\\slash 100%/vantle"_s),
              std::nullopt);
    EXPECT_TRUE(validates());
    QFile file(entry());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    EXPECT_TRUE(
        file.readAll().contains(R"(Exec="/opt/My Apps/\\$HOME \\"q\\" \\`x\\` back\\\\slash 100%%/vantle")"));
    file.write("Hidden=true\n");
    file.close();
    EXPECT_EQ(LoginRegistration::status(), LoginRegistration::Status::disabled);
    EXPECT_NE(LoginRegistration::enable(u"/opt/two\nlines"_s), std::nullopt);
}

TEST_F(LoginItemTest, AFailureIsTheTextShownUnderTheSetting) {
    const QString folder = QFileInfo(entry()).absolutePath();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).absolutePath()));
    QFile blocker(folder); // a file where the autostart folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_EQ(LoginItem::set(true), u"Your desktop did not allow this: cannot create the folder "_s + folder);
    EXPECT_FALSE(LoginItem::isEnabled());
}

} // namespace
