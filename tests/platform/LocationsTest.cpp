#include "platform/Locations.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(Locations, VantleHomeHoldsEveryFolder) {
    const QString saved = qEnvironmentVariable("VANTLE_HOME");
    qputenv("VANTLE_HOME", "/tmp/vantle-home-test/../vantle-home");
    qputenv("XDG_CONFIG_HOME", "/elsewhere/config"); // ignored under VANTLE_HOME
    const QStringList folders{Locations::applicationSupport(), Locations::runtime(), Locations::packages(),
                              Locations::icons(),   Locations::logs(),     Locations::config(),
                              Locations::pictures(), Locations::movies(),  Locations::downloads(),
                              Locations::backups(), Locations::commandSocket(), Locations::instanceLock(),
                              Locations::serverLedger()};
    for (const QString& folder : folders) EXPECT_TRUE(folder.startsWith(u"/tmp/vantle-home/"_s)) << folder.toStdString();
    EXPECT_EQ(folders.size(), QSet<QString>(folders.begin(), folders.end()).size()); // all distinct
    EXPECT_EQ(Locations::runtime(), Locations::applicationSupport() + u"/Runtime"_s);
    EXPECT_EQ(Locations::backups(), u"/tmp/vantle-home/Documents/Vantle Backups"_s);
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("VANTLE_HOME", saved.toUtf8());
}

TEST(Locations, WithoutVantleHomeTheXdgFoldersAreUsed) {
    const QString saved = qEnvironmentVariable("VANTLE_HOME");
    qunsetenv("VANTLE_HOME");
    qputenv("XDG_DATA_HOME", "/xdg/data");
    qputenv("XDG_STATE_HOME", "relative/is/ignored");
    EXPECT_EQ(Locations::applicationSupport(), u"/xdg/data/Vantle"_s);
    EXPECT_EQ(Locations::logs(), QDir::homePath() + u"/.local/state/Vantle/logs"_s);
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_STATE_HOME");
    qputenv("VANTLE_HOME", saved.toUtf8());
}

} // namespace
