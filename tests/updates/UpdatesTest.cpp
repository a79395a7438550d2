// Updates from two loopback HTTPS stores in F-Droid's layout: the rules, the check, the tile's mark, then
// installs over Tally on the simulated Android with APKs signed by two test keys.
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "runtime/ApkInstaller.h"
#include "support/DeviceFiles.h"
#include "support/LoopbackHttpServer.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"
#include "ui/AppTile.h"
#include "ui/MenuPanel.h"
#include "ui/RecordingLauncherActions.h"
#include "updates/AppUpdates.h"
#include "updates/UpdateRules.h"
#include "updates/UpdateTransport.h"

#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Answer = LoopbackHttpServer::Answer;
using Trigger = AppUpdates::Trigger;
using enum UpdateSource;
const QString tally = u"org.vantle.tally"_s;

// The loopback servers' certificate, trusted as a system CA would be; verification stays on.
LoopbackHttpServer::Tls trusted() {
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificate(LoopbackHttpServer::selfSigned().certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    return LoopbackHttpServer::selfSigned();
}

// The package API's answer as the stores write it: the suggested code "<code>.0", then an older one.
Answer versions(qint64 code) {
    return {200, uR"({"suggestedVersionCode":%1,"packages":[{"versionName":"%1.0","versionCode":%1},)"
                 uR"({"versionCode":%2}]})"_s.arg(code)
                     .arg(code - 1)
                     .toUtf8()};
}

struct StoreServers {
    LoopbackHttpServer fdroid{trusted()}, izzy{trusted()};
    // With trailing slashes, as a mirror's address may be written.
    ScopedEnvironment fdroidBase{"VANTLE_FDROID_URL", fdroid.url(u"/"_s).toString()};
    ScopedEnvironment izzyBase{"VANTLE_IZZYONDROID_URL", izzy.url(u"/fdroid//"_s).toString()};

    LoopbackHttpServer& server(UpdateSource source) { return source == UpdateSource::fdroid ? fdroid : izzy; }
    static QByteArray apiPath(UpdateSource source, const QString& package = tally) {
        return (source == UpdateSource::fdroid ? "" : "/fdroid") + "/api/v1/packages/"_ba + package.toUtf8();
    }
    static QByteArray apkPath(UpdateSource source, qint64 code) {
        return (source == UpdateSource::fdroid ? "" : "/fdroid") + "/repo/"_ba + tally.toUtf8() + '_' +
               QByteArray::number(code) + ".apk";
    }
    void offer(UpdateSource source, qint64 code) { server(source).serve(apiPath(source), versions(code)); }
    qsizetype requestsFor(UpdateSource source, const QByteArray& path) {
        return std::count_if(server(source).requests.cbegin(), server(source).requests.cend(),
                             [&](const LoopbackHttpServer::Request& r) { return r.path == path; });
    }
    qsizetype requestCount() const { return fdroid.requests.size() + izzy.requests.size(); }
};

// The pure rules: the device's version codes, the order, the texts, the addresses.
TEST(UpdateRulesTest, ListsTextsAndAddresses) {
    EXPECT_EQ(UpdateRules::readPackageList(u"package:android versionCode:35\n"
                                           u"package:com.c_d versionCode:7\r\n"                    // CR LF
                                           u"package:/data/app/x/base.apk=org.e.f versionCode:3\n" // -f
                                           u"package:org.g.h\n" // without --show-versioncode
                                           u"package:org.i.j versionCode:99999999999999999999999\n"
                                           u"package:org.k;rm versionCode:4\n"
                                           u"Error: Could not access the Package Manager.\n"_s),
              (QHash<QString, qint64>{{u"android"_s, 35}, {u"com.c_d"_s, 7}}));
    QList<AppUpdate> found{
        {tally, 5, u"5"_s, fdroid}, {tally, 7, u"7i"_s, izzy}, {tally, 7, u"7f"_s, fdroid}};
    UpdateRules::sortBestFirst(found);
    EXPECT_EQ(found.first().versionName + found.last().versionName, u"7i5"_s); // stable: the order asked

    // A version name from a repository cannot start a log line of its own or fill a placeholder.
    EXPECT_EQ(
        UpdateRules::checkLogLine(3, {fdroid}, {{u"org.a"_s, {u"org.a"_s, 4, u"1.4\nforged %1"_s, izzy}}}),
        u"updates: checked 3 apps in [\"F-Droid\"], 1 available [\"org.a\": \"1.4\\nforged %1 (IzzyOnDroid)\"]"_s);
    EXPECT_EQ(
        UpdateRules::installRefusal(u"\n  adb: Failure [INSTALL_FAILED_OLDER_SDK "_s + QString(200, u'x')),
        u"update failed: adb: Failure [INSTALL_FAILED_OLDER_SDK "_s + QString(81, u'x'));

    ScopedEnvironment noFDroid("VANTLE_FDROID_URL", QString()), noIzzy("VANTLE_IZZYONDROID_URL", QString());
    EXPECT_EQ(UpdateSources::apiURL(fdroid, tally),
              QUrl(u"https://f-droid.org/api/v1/packages/org.vantle.tally"_s));
    EXPECT_EQ(UpdateSources::apkURL(izzy, tally, 42),
              QUrl(u"https://apt.izzysoft.de/fdroid/repo/org.vantle.tally_42.apk"_s));
    // "+" allowed, "-" refused: an address alone, or a redirect "from > to".
    for (const QString& row :
         {u"+https://f-droid.org/a"_s, u"+http://[::1]:9/x"_s, u"-http://f-droid.org/a"_s,
          u"-http://localhost.example.com/x"_s, u"-http://10.0.0.1/x"_s, u"-ftp://127.0.0.1/x"_s,
          u"-file:///etc/passwd"_s, u"+https://f-droid.org/a > https://cdn.org/a"_s,
          u"+http://127.0.0.1:9/a > http://127.0.0.1:10/b"_s,
          u"+http://127.0.0.1:9/a > https://f-droid.org/a"_s,
          u"-https://f-droid.org/a > http://127.0.0.1:9/a"_s, u"-https://f-droid.org/a > http://cdn.org/a"_s,
          u"-http://127.0.0.1:9/a > http://cdn.org/a"_s}) {
        const QStringList urls = row.mid(1).split(u" > "_s);
        EXPECT_EQ(urls.size() == 1 ? UpdateSources::isAllowedAddress(QUrl(urls[0]))
                                   : UpdateSources::isAllowedRedirect(QUrl(urls[0]), QUrl(urls[1])),
                  row.startsWith(u'+'))
            << row.toStdString();
    }
}

MobileApp androidApp(const QString& package, const QString& name = u"Tally"_s) {
    const QString path = u"/nowhere/"_s + package + u".apk"_s;
    return {QUuid::createUuid(), name, MobilePlatform::android, path, package, {}, false};
}

class AppUpdatesTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    StoreServers stores;
    AppLibraryStore store;
    QStringList probed;
    QList<QUuid> closedWindows;
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);
    bool deviceAnswers = true, realDevice = false;
    QTemporaryDir home; // no Android here: an install fails when it asks for one
    ScopedEnvironment vantleHome{"VANTLE_HOME", home.path()};
    ScopedEnvironment sdk{"VANTLE_SDK_REPOSITORY", u"http://127.0.0.1:9/"_s};
    // Asked on the pool: Android has Tally 5, unless a test's own Android is asked; read here only
    // once a check has ended.
    AppUpdates updates{
        {[this](const QStringList& packages) {
             probed.append(packages);
             if (realDevice) return AppUpdates::installedVersionCodes(packages);
             return deviceAnswers ? std::optional(QHash<QString, qint64>{{tally, 5}}) : std::nullopt;
         },
         [this](const QUuid& id) { closedWindows.append(id); }, [this] { return now; }}};

    void SetUp() override { store.setApps({androidApp(tally)}); }
    // A check cut short by a failed assertion must not outlive the seams' captures.
    void TearDown() override { idle(); }
    bool idle() {
        return waitUntil([this] { return !updates.isChecking(); }, 30000);
    }
    // Runs one check to its end; false when none started (a check may end before checkIfDue returns).
    bool check(Trigger trigger = Trigger::forced) {
        const qsizetype before = probed.size();
        updates.checkIfDue(store, trigger);
        EXPECT_TRUE(idle());
        return probed.size() > before;
    }
    // "<store> <version>" of the update on offer, or "none".
    QString offered() const {
        const std::optional<AppUpdate> found = updates.update(store.apps().first());
        return found ? UpdateSources::displayName(found->source) + u' ' + found->versionName : u"none"_s;
    }
};

// F-Droid's answer or fault beside IzzyOnDroid's offer, and what is then on offer (5 is installed).
TEST_F(AppUpdatesTest, TheBestNewerVersionIsAvailable) {
    LoopbackHttpServer plain;
    const QByteArray nine = R"({"suggestedVersionCode":9})";
    plain.serve(StoreServers::apiPath(fdroid), {200, nine});
    const char* const izzyAlone = "IzzyOnDroid 6.0 1"; // F-Droid's answer refused (a 404 is not JSON either)
    // F-Droid's answer, IzzyOnDroid's code, and "<store> <version> <candidates>".
    const std::tuple<Answer, qint64, const char*> cases[]{
        {versions(5), 4, "none 0"},        // equal and lower codes
        {versions(7), 7, "F-Droid 7.0 2"}, // the same code in both: F-Droid
        {versions(6), 8, "IzzyOnDroid 8.0 2"},
        {{500, nine}, 6, izzyAlone},
        {{200, "<html>maintenance</html>"}, 6, izzyAlone},
        {{200, R"({"packages":[{"versionCode":9}]})"}, 6, izzyAlone}, // no suggested code
        {{200, R"({"suggestedVersionCode":"9"})"}, 6, izzyAlone},
        {{200, R"({"suggestedVersionCode":9.5})"}, 6, izzyAlone},
        {{200, R"({"suggestedVersionCode":1e300})"}, 6, izzyAlone}, // beyond 2^53
        {{200, R"([{"suggestedVersionCode":9}])"}, 6, izzyAlone},
        {{200, nine + QByteArray(UpdateTransport::maxAnswerBytes, ' ')}, 6, izzyAlone}, // over the size cap
        {{302, {}, -1, -1, false, plain.url(u"/api/v1/packages/"_s + tally).toEncoded()}, 6, izzyAlone},
        // The first element of the suggested code names it; without one, or without a string name: the code.
        {{200, R"({"suggestedVersionCode":9,"packages":[{"versionName":"2.0","versionCode":10},
            {"versionName":"1.4","versionCode":9},{"versionName":"dup","versionCode":9}]})"},
         6,
         "F-Droid 1.4 2"},
        {{200, R"({"suggestedVersionCode":9,"packages":[{"versionName":7,"versionCode":9}]})"},
         6,
         "F-Droid 9 2"},
        {{200, R"({"suggestedVersionCode":9.0,"packages":"nope"})"}, 6, "F-Droid 9 2"},
    };
    for (const auto& [answer, izzyCode, expected] : cases) {
        SCOPED_TRACE(std::to_string(answer.status) + ' ' + answer.body.left(80).toStdString());
        stores.fdroid.serve(StoreServers::apiPath(fdroid), answer);
        stores.offer(izzy, izzyCode);
        const qsizetype asked = stores.requestCount();
        ASSERT_TRUE(check());
        const qsizetype candidates = updates.candidates().value(tally).size();
        EXPECT_EQ(offered() + u' ' + QString::number(candidates), QString::fromUtf8(expected));
        EXPECT_EQ(updates.lastMessage(),
                  candidates ? u"1 update(s) available"_s : u"All apps are up to date"_s);
        EXPECT_EQ(stores.requestCount(), asked + 2); // each store asked once, whatever it answered
    }
    EXPECT_TRUE(plain.requests.isEmpty());
}

// One library and two stores walked through the rules in order; last the tile's mark, menu item and ring.
TEST_F(AppUpdatesTest, WhatIsAskedAndWhen) {
    const auto fdroidAsked = [&] { return stores.requestsFor(fdroid, StoreServers::apiPath(fdroid)); };
    RecordingLauncherActions actions;
    AppIconStore icons{[](const QUuid&, const QString&, MobilePlatform) { return std::nullopt; }};
    MenuPanel panel(store, actions, {[] { return true; }, {}, {}, &icons, &updates});
    const auto tile = [&panel](const QString& name) -> AppTile* {
        for (AppTile* t : panel.tiles())
            if (t->app().name == name) return t;
        return nullptr;
    };
    ASSERT_TRUE(tile(u"Tally"_s));
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), std::nullopt);
    VantleSettings::set(SettingsKeys::updatesFDroid, false);
    VantleSettings::set(SettingsKeys::updatesIzzy, false);
    EXPECT_FALSE(check());
    EXPECT_EQ(updates.lastMessage(), u"No store is turned on"_s);
    VantleSettings::set(SettingsKeys::updatesIzzy, true);
    stores.offer(fdroid, 9);
    stores.offer(izzy, 6);
    updates.checkIfDue(store, Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking IzzyOnDroid…"_s);
    ASSERT_TRUE(idle());
    EXPECT_EQ(stores.fdroid.requests.size(), 0);
    EXPECT_EQ(offered(), u"IzzyOnDroid 6.0"_s);

    SCOPED_TRACE("no second check while one runs (F-Droid's answer stalls)");
    VantleSettings::set(SettingsKeys::updatesFDroid, true);
    stores.fdroid.serve(StoreServers::apiPath(fdroid), {200, "{\"suggestedVersionCode\":12}", -1, 0});
    updates.checkIfDue(store, Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking F-Droid and IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([&] { return fdroidAsked() == 1; }));
    updates.checkIfDue(store, Trigger::forced);
    waitUntil([] { return false; }, 400); // past the first byte the server sends into a stall
    stores.fdroid.release();
    ASSERT_TRUE(idle());
    EXPECT_EQ(fdroidAsked(), 1);
    EXPECT_EQ(offered(), u"F-Droid 12"_s); // a name the repository does not list is the code

    SCOPED_TRACE("apps not in Android, or not Android apps, are not asked for; a package twice once");
    const QString absent = u"org.vantle.absent"_s;
    MobileApp ios = androidApp(u"org.vantle.other"_s);
    ios.platform = MobilePlatform::ios;
    store.setApps({ios});
    EXPECT_FALSE(check());
    EXPECT_EQ(updates.lastMessage(), QString());
    store.setApps({androidApp(tally), androidApp(absent, u"Absent"_s), androidApp(tally, u"Again"_s), ios});
    stores.offer(fdroid, 6);
    probed.clear();
    MainLogSince log;
    ASSERT_TRUE(check());
    EXPECT_EQ(probed, (QStringList{tally, absent}));
    EXPECT_EQ(stores.requestsFor(fdroid, StoreServers::apiPath(fdroid, absent)), 0);
    EXPECT_EQ(log.count(u"updates: checked 2 apps in [\"F-Droid\", \"IzzyOnDroid\"], 1 available "
                        u"[\"org.vantle.tally\": \"6.0 (F-Droid)\"]"_s),
              1);

    SCOPED_TRACE("automatic checks wait six hours after the last check and obey the setting");
    const qsizetype before = fdroidAsked();
    now = now.addSecs(60);
    EXPECT_FALSE(check(Trigger::automatic));
    EXPECT_TRUE(check());
    EXPECT_EQ(updates.lastCheck(), now);
    now = now.addSecs(21599);
    EXPECT_FALSE(check(Trigger::automatic));
    now = now.addSecs(1);
    EXPECT_TRUE(check(Trigger::automatic));
    VantleSettings::set(SettingsKeys::checkUpdates, false);
    now = now.addDays(1);
    EXPECT_FALSE(check(Trigger::automatic));
    EXPECT_TRUE(check()); // forced ones still run
    EXPECT_EQ(fdroidAsked(), before + 3);

    SCOPED_TRACE("without an Android to ask nothing is called up to date, and the last results stay");
    deviceAnswers = false;
    const qsizetype asked = stores.requestCount();
    ASSERT_TRUE(check());
    EXPECT_EQ(updates.lastMessage(), u"Updates not checked: Android is not running"_s);
    EXPECT_EQ(stores.requestCount(), asked);
    EXPECT_EQ(offered(), u"F-Droid 6.0"_s);

    SCOPED_TRACE("the tile shows the update and starts it; without an Android it fails and keeps its mark");
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), u"6.0"_s);
    EXPECT_EQ(tile(u"Tally"_s)->accessibleDescription(), u"Update available"_s);
    EXPECT_EQ(tile(u"Absent"_s)->accessibleDescription(), QString());
    // The install may end before the menu item's trigger returns: the marks are read as the updating set
    // changes.
    QList<bool> ringShown;
    QStringList menuWhileUpdating;
    QObject::connect(&updates, &AppUpdates::updatingChanged, &panel, [&] {
        ringShown.append(tile(u"Tally"_s)->isUpdatingMarked());
        if (ringShown.size() == 1) menuWhileUpdating = menuTexts(*tile(u"Tally"_s)->makeContextMenu());
    });
    EXPECT_EQ(menuTexts(*tile(u"Tally"_s)->makeContextMenu(), u"Update to 6.0"_s),
              (QStringList{u"Add to favourites"_s, u"Update to 6.0"_s, AppTile::revealTitle(),
                           u"Remove from Vantle"_s, u"Uninstall from Android…"_s}));
    ASSERT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 20000));
    EXPECT_EQ(ringShown, (QList<bool>{true, false}));
    EXPECT_FALSE(menuWhileUpdating.join(u' ').contains(u"Update to"_s))
        << menuWhileUpdating.join(u'|').toStdString();
    EXPECT_TRUE(updates.lastMessage().startsWith(u"F-Droid: update failed: "_s))
        << updates.lastMessage().toStdString();
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), u"6.0"_s); // still on offer
}

QByteArray signedApk(int version, char key) {
    return readFile(QStringLiteral(VANTLE_UPDATE_APKS) +
                    u"/tally-%1-%2.apk"_s.arg(version).arg(QLatin1Char(key)));
}

// Tally 1.0 signed with key A, installed in Android and in the library (its package known only from the
// install record, as for an APK the user added); the failures first, as each leaves it so.
TEST_F(AppUpdatesTest, RefusalsLeaveTheAppThenTheNextStoreInstalls) {
    SimulatedAndroidHome android;
    realDevice = true;
    LoopbackHttpServer plain;
    QTemporaryDir library;
    MobileApp app = androidApp(tally);
    app.sourcePath = library.filePath(u"Tally.apk"_s);
    app.bundleIdentifier.reset();
    ASSERT_TRUE(writeFile(app.sourcePath, signedApk(1, 'a')));
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    ASSERT_TRUE(AndroidRuntimeCLI::adbDevice({u"install"_s, u"-r"_s, app.sourcePath}).contains(u"Success"_s));
    AndroidRuntimeCLI::rememberInstalled(app.sourcePath, tally);
    store.setApps({app});

    const auto packagesFolder = [] {
        return QDir(AndroidRuntimeCLI::packagesDirectory()).entryList(QDir::Files | QDir::Hidden);
    };
    // Installs and returns the message; what failed leaves the app, the library and the offer.
    const auto failedInstall = [&] {
        updates.install(store.apps().first(), store);
        EXPECT_TRUE(updates.updating().contains(tally));
        EXPECT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 60000));
        EXPECT_EQ(store.statusMessage(), updates.lastMessage());
        EXPECT_EQ(AppUpdates::installedVersionCode(tally), 1);
        EXPECT_EQ(store.apps().first().sourcePath, app.sourcePath);
        EXPECT_EQ(store.apps().first().bundleIdentifier, std::nullopt);
        EXPECT_TRUE(packagesFolder().isEmpty()) << packagesFolder().join(u' ').toStdString();
        EXPECT_TRUE(updates.update(store.apps().first())) << "the update is still on offer";
        return updates.lastMessage();
    };
    const QByteArray izzyApk = StoreServers::apkPath(izzy, 2);
    {
        SCOPED_TRACE("only HTTPS, and only whole answers");
        stores.offer(fdroid, 2);
        stores.offer(izzy, 2);
        stores.izzy.serve(izzyApk, {200, signedApk(2, 'a'), 1000});
        ASSERT_TRUE(check());
        // The mirror moved to plain HTTP on another computer: nothing is fetched from there.
        ScopedEnvironment remote("VANTLE_FDROID_URL", u"http://192.0.2.1:9"_s);
        const QString message = failedInstall();
        EXPECT_TRUE(
            message.startsWith(u"F-Droid: update failed: refused the address http://192.0.2.1:9/repo/"
                               u"org.vantle.tally_2.apk (only HTTPS) · IzzyOnDroid: update failed: "_s))
            << message.toStdString();
    }
    SCOPED_TRACE("a download that is not the app is refused before installing; no redirect to HTTP");
    stores.fdroid.serve(StoreServers::apkPath(fdroid, 2),
                        {200, readFile(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk"))});
    plain.serve(izzyApk, {200, signedApk(2, 'a')});
    stores.izzy.serve(izzyApk, {302, {}, -1, -1, false, plain.url(QString::fromUtf8(izzyApk)).toEncoded()});
    EXPECT_EQ(failedInstall(), u"F-Droid: the download is not org.vantle.tally · IzzyOnDroid: update "
                               u"failed: refused a redirect from HTTPS to plain HTTP"_s);
    EXPECT_EQ(AndroidRuntimeCLI::runADB({u"shell"_s, u"pm list packages org.vantle.sim.notes"_s}), QString());
    EXPECT_TRUE(plain.requests.isEmpty());

    SCOPED_TRACE("every store says why when all fail");
    stores.offer(fdroid, 3);
    stores.fdroid.serve(StoreServers::apkPath(fdroid, 3), {200, signedApk(3, 'b')});
    stores.izzy.serve(izzyApk, {404, "Not Found"});
    ASSERT_TRUE(check());
    EXPECT_EQ(failedInstall(),
              u"F-Droid: this copy was installed from a different store · IzzyOnDroid: Download failed"_s);

    SCOPED_TRACE("the next store installs (over a redirect on HTTPS) when the best copy has another key");
    stores.izzy.serve("/mirror/tally.apk", {200, signedApk(2, 'a')});
    stores.izzy.serve(izzyApk, {302, {}, -1, -1, false, stores.izzy.url(u"/mirror/tally.apk"_s).toEncoded()});
    ASSERT_EQ(updates.update(store.apps().first()), (AppUpdate{tally, 3, u"3.0"_s, fdroid}));
    const auto apkRequests = [&] {
        return stores.requestsFor(fdroid, StoreServers::apkPath(fdroid, 3)) +
               stores.requestsFor(izzy, izzyApk);
    };
    const qsizetype requestsBefore = apkRequests(), closedBefore = closedWindows.size();
    MainLogSince log;
    updates.install(store.apps().first(), store);
    EXPECT_EQ(store.statusMessage(), u"Updating Tally…"_s);
    updates.install(store.apps().first(), store); // a second quick press
    ASSERT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 60000));
    const QString installed = AndroidRuntimeCLI::packagesDirectory() + u"/org.vantle.tally-2.apk"_s;
    EXPECT_EQ(store.statusMessage(), u"Tally updated to 2.0 (IzzyOnDroid)"_s);
    EXPECT_EQ(closedWindows.mid(closedBefore), QList<QUuid>{app.id});
    EXPECT_EQ(apkRequests(), requestsBefore + 2); // each store's copy fetched once
    EXPECT_EQ(AppUpdates::installedVersionCode(tally), 2);
    EXPECT_EQ(store.apps().first().sourcePath, installed);
    EXPECT_EQ(store.apps().first().bundleIdentifier, tally);
    EXPECT_EQ(AndroidRuntimeCLI::knownPackage(installed), tally);
    EXPECT_EQ(packagesFolder(), QStringList{u"org.vantle.tally-2.apk"_s}); // the refused copy is gone
    EXPECT_EQ(updates.update(store.apps().first()), std::nullopt);
    EXPECT_FALSE(updates.candidates().contains(tally));
    EXPECT_EQ(log.count(u"updates: org.vantle.tally -> Tally updated to 2.0 (IzzyOnDroid)"_s), 1);
    ASSERT_TRUE(check()); // until a later check finds a newer one
    EXPECT_EQ(updates.update(store.apps().first())->versionCode, 3);
}

} // namespace
