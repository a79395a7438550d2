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
    // Asked on the pool; read here only once a check has ended.
    AppUpdates updates{{[this](const QStringList& packages) -> std::optional<QHash<QString, qint64>> {
                            probed.append(packages);
                            if (!deviceAnswers) return std::nullopt;
                            QHash<QString, qint64> codes;
                            for (const QString& package : packages)
                                if (installed.contains(package))
                                    codes.insert(package, installed.value(package));
                            return codes;
                        },
                        [](const QUuid&) {}, [this] { return now; }}};

    void SetUp() override { store.setApps({androidApp(tally)}); }
    // A check cut short by a failed assertion must not outlive the seams' captures.
    void TearDown() override {
        waitUntil([this] { return !updates.isChecking(); }, 20000);
    }

    // Runs one check to its end; false when none started (a check may end before checkIfDue returns).
    bool check(AppUpdates::Trigger trigger) {
        const qsizetype before = probed.size();
        updates.checkIfDue(store, trigger);
        EXPECT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
        return probed.size() > before;
    }
};

using Answer = LoopbackHttpServer::Answer;

// Each store's answer or fault, and which store's version is then on offer (the installed code is 5).
TEST_F(AppUpdatesCheckTest, TheBestNewerVersionIsAvailable) {
    const struct {
        const char* title;
        std::optional<Answer> fdroid; // nothing: offers `fdroidCode`
        qint64 fdroidCode;
        std::optional<Answer> izzy;
        qint64 izzyCode;
        std::optional<UpdateSource> best; // nothing: no update
        qsizetype candidates;
    } cases[]{
        {"equal and lower codes", std::nullopt, 5, std::nullopt, 4, std::nullopt, 0},
        {"same code in both: F-Droid", std::nullopt, 7, std::nullopt, 7, UpdateSource::fdroid, 2},
        {"IzzyOnDroid newer", std::nullopt, 6, std::nullopt, 8, UpdateSource::izzy, 2},
        {"F-Droid 404", Answer{404, "Not Found"}, 0, std::nullopt, 6, UpdateSource::izzy, 1},
        {"F-Droid 500", Answer{500, R"({"suggestedVersionCode":9})"}, 0, std::nullopt, 6, UpdateSource::izzy,
         1},
        {"F-Droid not JSON", Answer{200, "<html>maintenance</html>"}, 0, std::nullopt, 6, UpdateSource::izzy,
         1},
        {"F-Droid without a suggested code", Answer{200, R"({"packages":[{"versionCode":9}]})"}, 0,
         std::nullopt, 6, UpdateSource::izzy, 1},
        {"IzzyOnDroid slow", std::nullopt, 6, Answer{200, R"({"suggestedVersionCode":9})", -1, 0}, 9,
         UpdateSource::izzy, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        for (const auto& [source, fault, code] : {std::tuple{UpdateSource::fdroid, c.fdroid, c.fdroidCode},
                                                  std::tuple{UpdateSource::izzy, c.izzy, c.izzyCode}})
            fault ? stores.fault(source, tally, *fault)
                  : stores.offer(source, tally, code, QString::number(code) + u".0"_s);
        const qsizetype asked = stores.requestCount();
        SlowAnswers slow(stores);
        ASSERT_TRUE(check(AppUpdates::Trigger::forced));
        const std::optional<AppUpdate> found = updates.update(store.apps().first());
        EXPECT_EQ(found.has_value(), c.best.has_value());
        if (found && c.best) {
            EXPECT_EQ(found->source, *c.best);
            EXPECT_EQ(found->versionCode, *c.best == UpdateSource::fdroid ? c.fdroidCode : c.izzyCode);
        }
        EXPECT_EQ(updates.candidates().value(tally).size(), c.candidates);
        EXPECT_EQ(updates.lastMessage(), c.best ? u"1 update(s) available"_s : u"All apps are up to date"_s);
        EXPECT_EQ(stores.requestCount(), asked + 2); // each store asked once, whatever it answered
    }
}

// One library and two stores walked through the rules in order.
TEST_F(AppUpdatesCheckTest, WhatIsAskedAndWhen) {
    const auto fdroidAsked = [&] {
        return stores.requestsFor(UpdateSource::fdroid, StoreServers::apiPath(UpdateSource::fdroid, tally));
    };
    // Both stores off: nothing is asked.
    VantleSettings::set(SettingsKeys::updatesFDroid, false);
    VantleSettings::set(SettingsKeys::updatesIzzy, false);
    for (const auto trigger : {AppUpdates::Trigger::automatic, AppUpdates::Trigger::forced}) {
        EXPECT_FALSE(check(trigger));
        EXPECT_EQ(updates.lastMessage(), u"No store is turned on"_s);
    }
    EXPECT_TRUE(probed.isEmpty());
    // Only IzzyOnDroid on: only it is asked.
    VantleSettings::set(SettingsKeys::updatesIzzy, true);
    stores.offer(UpdateSource::fdroid, tally, 9, u"9.0"_s);
    stores.offer(UpdateSource::izzy, tally, 6, u"6.0"_s);
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
    EXPECT_EQ(stores.fdroid.requests.size(), 0);
    EXPECT_EQ(updates.update(store.apps().first()).value_or(AppUpdate{}).source, UpdateSource::izzy);
    VantleSettings::set(SettingsKeys::updatesFDroid, true);

    // No second check while one runs; a version name the repository does not list is the code.
    stores.fault(
        UpdateSource::fdroid, tally,
        {200, R"({"suggestedVersionCode":12,"packages":[{"versionName":"1.1","versionCode":11}]})", -1, 0});
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking F-Droid and IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([&] { return fdroidAsked() == 1; }));
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    SlowAnswers slow(stores);
    ASSERT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
    EXPECT_EQ(fdroidAsked(), 1);
    EXPECT_EQ(updates.lastMessage(), u"1 update(s) available"_s);
    EXPECT_EQ(updates.update(store.apps().first()).value_or(AppUpdate{}).versionName, u"12"_s);

    // Apps not in Android, or not Android apps, are not asked for; a package twice is asked once.
    const QString absent = u"org.vantle.absent"_s;
    MobileApp ios = androidApp(u"org.vantle.other"_s);
    ios.platform = MobilePlatform::ios;
    store.setApps({ios});
    EXPECT_FALSE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(updates.lastMessage(), QString());
    store.setApps(
        {androidApp(tally), androidApp(absent, u"Absent"_s), androidApp(tally, u"Tally again"_s), ios});
    stores.offer(UpdateSource::fdroid, tally, 6, u"6.0"_s);
    stores.offer(UpdateSource::fdroid, absent, 6, u"6.0"_s);
    probed.clear();
    MainLogSince log;
    ASSERT_TRUE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(probed, (QStringList{tally, absent}));
    EXPECT_EQ(stores.requestsFor(UpdateSource::fdroid, StoreServers::apiPath(UpdateSource::fdroid, absent)),
              0);
    EXPECT_EQ(log.count(u"updates: checked 2 apps in [\"F-Droid\", \"IzzyOnDroid\"], 1 available "
                        u"[\"org.vantle.tally\": \"6.0 (F-Droid)\"]"_s),
              1)
        << log.lines().join(u'\n').toStdString();

    // Automatic checks wait six hours after the last check, forced ones do not.
    const qsizetype before = fdroidAsked();
    now = now.addSecs(60);
    EXPECT_FALSE(check(AppUpdates::Trigger::automatic));
    EXPECT_TRUE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(updates.lastCheck(), now);
    now = now.addSecs(21599);
    EXPECT_FALSE(check(AppUpdates::Trigger::automatic));
    now = now.addSecs(1);
    EXPECT_TRUE(check(AppUpdates::Trigger::automatic));
    VantleSettings::set(SettingsKeys::checkUpdates, false); // automatic checks off
    now = now.addDays(1);
    EXPECT_FALSE(check(AppUpdates::Trigger::automatic));
    EXPECT_TRUE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(fdroidAsked(), before + 3);

    // Without an Android to ask nothing is called up to date, and the last results stay.
    deviceAnswers = false;
    const qsizetype asked = stores.requestCount();
    ASSERT_TRUE(check(AppUpdates::Trigger::forced));
    EXPECT_EQ(updates.lastMessage(), u"Updates not checked: Android is not running"_s);
    EXPECT_EQ(stores.requestCount(), asked);
    EXPECT_TRUE(updates.update(store.apps().first()));
}

} // namespace
