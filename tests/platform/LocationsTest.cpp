#include "platform/Locations.h"

#include "support/DeviceFiles.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(Locations, VantleHomeHoldsEveryFolder) {
    const ScopedEnvironment home("VANTLE_HOME", u"/tmp/vantle-home-test/../vantle-home"_s);
    const ScopedEnvironment config("XDG_CONFIG_HOME", u"/elsewhere/config"_s); // ignored under VANTLE_HOME
    const QStringList folders{Locations::applicationSupport(),
                              Locations::runtime(),
                              Locations::packages(),
                              Locations::icons(),
                              Locations::logs(),
                              Locations::config(),
                              Locations::pictures(),
                              Locations::movies(),
                              Locations::downloads(),
                              Locations::backups(),
                              Locations::commandSocket(),
                              Locations::instanceLock(),
                              Locations::serverLedger()};
    for (const QString& folder : folders)
        EXPECT_TRUE(folder.startsWith(u"/tmp/vantle-home/"_s)) << folder.toStdString();
    EXPECT_EQ(folders.size(), QSet<QString>(folders.begin(), folders.end()).size()); // all distinct
    EXPECT_EQ(Locations::runtime(), Locations::applicationSupport() + u"/Runtime"_s);
    EXPECT_EQ(Locations::backups(), u"/tmp/vantle-home/Documents/Vantle Backups"_s);
}

TEST(Locations, WithoutVantleHomeTheXdgFoldersAreUsed) {
    const ScopedEnvironment home("VANTLE_HOME", QString());
    qunsetenv("VANTLE_HOME"); // restored with the scope
    const ScopedEnvironment data("XDG_DATA_HOME", u"/xdg/data"_s);
    const ScopedEnvironment state("XDG_STATE_HOME", u"relative/is/ignored"_s);
    EXPECT_EQ(Locations::applicationSupport(), u"/xdg/data/Vantle"_s);
    EXPECT_EQ(Locations::logs(), QDir::homePath() + u"/.local/state/Vantle/logs"_s);
}

} // namespace
