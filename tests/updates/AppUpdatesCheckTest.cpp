// The update check against two loopback repositories: which packages and stores are asked, what a
// repository's answer or fault makes of the result, the six-hour rule and the messages. The
// installed version codes come from a table here; AppUpdatesInstallTest reads them from the
// simulated device.
#include "StoreServer.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "support/TestSupport.h"
#include "updates/AppUpdates.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString tally = u"org.vantle.tally"_s;

MobileApp androidApp(const QString& package, const QString& name = u"Tally"_s) {
    MobileApp app;
    app.id = QUuid::createUuid();
    app.name = name;
    app.sourcePath = u"/nowhere/"_s + package + u".apk"_s;
    app.bundleIdentifier = package;
    return app;
}

class AppUpdatesCheckTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    StoreServers stores;
    AppLibraryStore store;
    QHash<QString, qint64> installed{{tally, 5}};
    QStringList probed;
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);
    bool deviceAnswers = true;
    AppUpdates updates{{[this](const QStringList& packages) -> std::optional<QHash<QString, qint64>> {
                            QMetaObject::invokeMethod(qApp, [this, packages] { probed.append(packages); });
                            if (!deviceAnswers) return std::nullopt;
                            QHash<QString, qint64> codes;
                            for (const QString& package : packages)
                                if (installed.contains(package))
                                    codes.insert(package, installed.value(package));
                            return codes;
                        },
                        [](const QUuid&) {}, [this] { return now; }}};

    void SetUp() override { store.setApps({androidApp(tally)}); }

    // Runs one check to its end; false when none started.
    bool check(AppUpdates::Trigger trigger) {
        updates.checkIfDue(store, trigger);
        if (!updates.isChecking()) return false;
        EXPECT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
        return true;
    }
};

TEST_F(AppUpdatesCheckTest, WithBothStoresOffNothingIsAsked) {
    VantleSettings::set(SettingsKeys::updatesFDroid, false);
    VantleSettings::set(SettingsKeys::updatesIzzy, false);
    for (const auto trigger : {AppUpdates::Trigger::automatic, AppUpdates::Trigger::forced}) {
        EXPECT_FALSE(check(trigger));
        EXPECT_EQ(updates.lastMessage(), u"No store is turned on"_s);
    }
    EXPECT_EQ(stores.requestCount(), 0);
    EXPECT_TRUE(probed.isEmpty());
}

TEST_F(AppUpdatesCheckTest, WithAnEmptyLibraryTheMessageIsEmpty) {
    store.setApps({});
    MobileApp ios = androidApp(u"org.vantle.other"_s);
    ios.platform = MobilePlatform::ios;
    store.setApps({ios}); // not an Android app: no package
    stores.offer(UpdateSource::fdroid, tally, 9, u"9.0"_s);
    EXPECT_FALSE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(updates.lastMessage(), QString());
    EXPECT_EQ(stores.requestCount(), 0);
}

struct Offers {
    const char* title;
    std::optional<LoopbackHttpServer::Answer> fdroid; // nothing: offers `fdroidCode`
    qint64 fdroidCode;
    std::optional<LoopbackHttpServer::Answer> izzy;
    qint64 izzyCode;
    std::optional<UpdateSource> best; // nothing: no update
    qsizetype candidates;
};

void PrintTo(const Offers& offers, std::ostream* out) {
    *out << offers.title;
}

class OffersTest : public AppUpdatesCheckTest, public ::testing::WithParamInterface<Offers> {};

TEST_P(OffersTest, TheBestNewerVersionIsAvailable) {
    const Offers& o = GetParam();
    const auto serve = [&](UpdateSource source, const std::optional<LoopbackHttpServer::Answer>& fault,
                           qint64 code) {
        if (fault)
            stores.fault(source, tally, *fault);
        else
            stores.offer(source, tally, code, QString::number(code) + u".0"_s);
    };
    serve(UpdateSource::fdroid, o.fdroid, o.fdroidCode);
    serve(UpdateSource::izzy, o.izzy, o.izzyCode);
    SlowAnswers slow(stores);

    ASSERT_TRUE(check(AppUpdates::Trigger::automatic)) << o.title;
    const std::optional<AppUpdate> found = updates.update(store.apps().first());
    EXPECT_EQ(found.has_value(), o.best.has_value()) << o.title;
    if (found && o.best) {
        EXPECT_EQ(found->source, *o.best) << o.title;
        EXPECT_EQ(found->versionCode, *o.best == UpdateSource::fdroid ? o.fdroidCode : o.izzyCode) << o.title;
    }
    EXPECT_EQ(updates.candidates().value(tally).size(), o.candidates) << o.title;
    EXPECT_EQ(updates.lastMessage(), o.best ? u"1 update(s) available"_s : u"All apps are up to date"_s);
    // Each store was asked once, whatever it answered.
    EXPECT_EQ(stores.requestsFor(UpdateSource::fdroid, StoreServers::apiPath(UpdateSource::fdroid, tally)),
              1);
    EXPECT_EQ(stores.requestsFor(UpdateSource::izzy, StoreServers::apiPath(UpdateSource::izzy, tally)), 1);
}

using Answer = LoopbackHttpServer::Answer;
INSTANTIATE_TEST_SUITE_P(
    Repositories, OffersTest,
    ::testing::Values(
        Offers{"equal and lower codes", std::nullopt, 5, std::nullopt, 4, std::nullopt, 0},
        Offers{"same code in both: F-Droid", std::nullopt, 7, std::nullopt, 7, UpdateSource::fdroid, 2},
        Offers{"IzzyOnDroid newer", std::nullopt, 6, std::nullopt, 8, UpdateSource::izzy, 2},
        Offers{"F-Droid 404", Answer{404, "Not Found"}, 0, std::nullopt, 6, UpdateSource::izzy, 1},
        Offers{"F-Droid 500", Answer{500, R"({"suggestedVersionCode":9})"}, 0, std::nullopt, 6,
               UpdateSource::izzy, 1},
        Offers{"F-Droid not JSON", Answer{200, "<html>maintenance</html>"}, 0, std::nullopt, 6,
               UpdateSource::izzy, 1},
        Offers{"F-Droid without a suggested code", Answer{200, R"({"packages":[{"versionCode":9}]})"}, 0,
               std::nullopt, 6, UpdateSource::izzy, 1},
        Offers{"IzzyOnDroid slow", std::nullopt, 6, Answer{200, R"({"suggestedVersionCode":9})", -1, 0}, 9,
               UpdateSource::izzy, 2}));

TEST_F(AppUpdatesCheckTest, VersionNameIsTheCodeWhenTheRepositoryListsNone) {
    stores.fault(UpdateSource::fdroid, tally,
                 {200, R"({"suggestedVersionCode":12,"packages":[{"versionName":"1.1","versionCode":11}]})"});
    ASSERT_TRUE(check(AppUpdates::Trigger::forced));
    ASSERT_TRUE(updates.update(store.apps().first()));
    EXPECT_EQ(updates.update(store.apps().first())->versionName, u"12"_s);
}

TEST_F(AppUpdatesCheckTest, AppsNotInAndroidAreNotAsked) {
    const QString absent = u"org.vantle.absent"_s;
    store.setApps({androidApp(tally), androidApp(absent, u"Absent"_s), androidApp(tally, u"Tally again"_s)});
    stores.offer(UpdateSource::fdroid, tally, 6, u"6.0"_s);
    stores.offer(UpdateSource::fdroid, absent, 6, u"6.0"_s);
    MainLogSince log;
    ASSERT_TRUE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(probed, (QStringList{tally, absent})); // duplicates asked once
    EXPECT_EQ(stores.requestsFor(UpdateSource::fdroid, StoreServers::apiPath(UpdateSource::fdroid, absent)),
              0);
    EXPECT_EQ(log.count(u"updates: checked 2 apps in [\"F-Droid\", \"IzzyOnDroid\"], 1 available "
                        u"[\"org.vantle.tally\": \"6.0 (F-Droid)\"]"_s),
              1)
        << log.lines().join(u'\n').toStdString();
}

TEST_F(AppUpdatesCheckTest, AutomaticChecksWaitSixHoursForcedOnesDoNot) {
    stores.offer(UpdateSource::fdroid, tally, 6, u"6.0"_s);
    const QByteArray api = StoreServers::apiPath(UpdateSource::fdroid, tally);
    EXPECT_TRUE(check(AppUpdates::Trigger::automatic));
    now = now.addSecs(60);
    EXPECT_FALSE(check(AppUpdates::Trigger::automatic));
    EXPECT_TRUE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(updates.lastCheck(), now);
    now = now.addSecs(21599);
    EXPECT_FALSE(check(AppUpdates::Trigger::automatic));
    now = now.addSecs(1);
    EXPECT_TRUE(check(AppUpdates::Trigger::automatic));
    // Automatic checks off: only a forced one runs.
    VantleSettings::set(SettingsKeys::checkUpdates, false);
    now = now.addDays(1);
    EXPECT_FALSE(check(AppUpdates::Trigger::automatic));
    EXPECT_TRUE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(stores.requestsFor(UpdateSource::fdroid, api), 4);
}

TEST_F(AppUpdatesCheckTest, NoSecondCheckWhileOneRuns) {
    stores.fault(UpdateSource::fdroid, tally, {200, StoreServers::answer(tally, 6, u"6.0"_s), -1, 0});
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    ASSERT_TRUE(updates.isChecking());
    EXPECT_EQ(updates.lastMessage(), u"Checking F-Droid and IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([this] { return stores.fdroid.requests.size() == 1; }));
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    SlowAnswers slow(stores);
    ASSERT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
    EXPECT_EQ(stores.fdroid.requests.size(), 1);
    EXPECT_EQ(updates.lastMessage(), u"1 update(s) available"_s);
}

TEST_F(AppUpdatesCheckTest, WithoutAnAndroidToAskNothingIsCalledUpToDate) {
    stores.offer(UpdateSource::fdroid, tally, 6, u"6.0"_s);
    ASSERT_TRUE(check(AppUpdates::Trigger::forced));
    ASSERT_TRUE(updates.update(store.apps().first()));
    deviceAnswers = false;
    now = now.addDays(1);
    ASSERT_TRUE(check(AppUpdates::Trigger::automatic));
    EXPECT_EQ(updates.lastMessage(), u"Updates not checked: Android is not running"_s);
    EXPECT_EQ(stores.fdroid.requests.size(), 1); // only the first check's
    EXPECT_TRUE(updates.update(store.apps().first())) << "the last results stay";
}

TEST_F(AppUpdatesCheckTest, OnlyTheStoresTurnedOnAreAsked) {
    VantleSettings::set(SettingsKeys::updatesFDroid, false);
    stores.offer(UpdateSource::fdroid, tally, 9, u"9.0"_s);
    stores.offer(UpdateSource::izzy, tally, 6, u"6.0"_s);
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
    EXPECT_EQ(stores.fdroid.requests.size(), 0);
    EXPECT_EQ(updates.update(store.apps().first())->source, UpdateSource::izzy);
}

} // namespace
