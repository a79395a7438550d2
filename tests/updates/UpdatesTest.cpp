// Updates from two loopback HTTPS stores: rules, checks, the tile, installs on the simulated Android.
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

#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Answer = LoopbackHttpServer::Answer;
using Trigger = AppUpdates::Trigger;
using enum UpdateSource;
const QString tally = u"org.vantle.tally"_s;
// Both stores on one server: F-Droid at its root, IzzyOnDroid under /fdroid.
const QByteArray fdroidApi = "/api/v1/packages/org.vantle.tally", izzyApi = "/fdroid" + fdroidApi;
const QByteArray izzyApk = "/fdroid/repo/org.vantle.tally_2.apk", fdroidApk = "/repo/org.vantle.tally_3.apk";

// The package API's answer: the suggested code, named "<code>.0".
Answer versions(qint64 code) {
    return {200,
            uR"({"suggestedVersionCode":%1,"packages":[{"versionName":"%1.0","versionCode":%1}]})"_s.arg(code)
                .toUtf8()};
}

// The pure rules: the device's version codes, the texts, the addresses.
TEST(UpdateRulesTest, ListsTextsAndAddresses) {
    EXPECT_EQ(UpdateRules::readPackageList(u"package:android versionCode:35\n"
                                           u"package:com.c_d versionCode:7\r\n"                    // CR LF
                                           u"package:/data/app/x/base.apk=org.e.f versionCode:3\n" // -f
                                           u"package:org.g.h\n" // without --show-versioncode
                                           u"package:org.i.j versionCode:99999999999999999999999\n"
                                           u"package:org.k;rm versionCode:4\n"
                                           u"Error: Could not access the Package Manager.\n"_s),
              (QHash<QString, qint64>{{u"android"_s, 35}, {u"com.c_d"_s, 7}}));
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
    for (const QString& row : {u"+https://f-droid.org/a"_s, u"+http://[::1]:9/x"_s,
                               u"-http://localhost.example.com/x"_s, u"-ftp://127.0.0.1/x"_s,
                               u"-file:///etc/passwd"_s, u"+http://127.0.0.1:9/a > http://127.0.0.1:10/b"_s,
                               u"+http://127.0.0.1:9/a > https://f-droid.org/a"_s,
                               u"-http://127.0.0.1:9/a > http://cdn.org/a"_s}) {
        const QStringList urls = row.mid(1).split(u" > "_s);
        EXPECT_EQ(urls.size() == 1 ? UpdateSources::isAllowedAddress(QUrl(urls[0]))
                                   : UpdateSources::isAllowedRedirect(QUrl(urls[0]), QUrl(urls[1])),
                  row.startsWith(u'+'))
            << row.toStdString();
    }
}

QByteArray signedApk(int version, char key) {
    return readFile(u"" VANTLE_UPDATE_APKS "/tally-%1-%2.apk"_s.arg(version).arg(QLatin1Char(key)));
}

// Tally 1 installed (package known from its install record): checks, refusals, an update, no Android.
TEST(AppUpdatesTest, ChecksAndInstallsAgainstTwoStores) {
    ScopedSettings settings;
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificate(LoopbackHttpServer::selfSigned().certificate); // verification stays on
    QSslConfiguration::setDefaultConfiguration(trusting);
    LoopbackHttpServer stores{LoopbackHttpServer::selfSigned()}, plain;
    // With trailing slashes, as a mirror's address may be written.
    ScopedEnvironment fdroidBase{"VANTLE_FDROID_URL", stores.url(u"/"_s).toString()},
        izzyBase{"VANTLE_IZZYONDROID_URL", stores.url(u"/fdroid//"_s).toString()};
    ScopedEnvironment sdk{"VANTLE_SDK_REPOSITORY", u"http://127.0.0.1:9/"_s};
    std::optional<SimulatedAndroidHome> android(std::in_place); // then the run's own home, without one
    const QString tallyOne = u"" VANTLE_UPDATE_APKS "/tally-1-a.apk"_s; // key A
    const MobileApp app{QUuid::createUuid(), u"Tally"_s, MobilePlatform::android, tallyOne, {}, {}};
    ASSERT_EQ(Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(app.sourcePath)), tally);
    const MobileApp ios{QUuid::createUuid(), u"iOS"_s, MobilePlatform::ios, {}, u"org.vantle.ios"_s, {}};
    const MobileApp gone{QUuid::createUuid(), {}, MobilePlatform::android, {}, u"org.vantle.gone"_s, {}};
    const MobileApp twin{QUuid::createUuid(), {}, MobilePlatform::android, {}, tally, {}};
    AppLibraryStore store;
    store.setApps({app, gone, twin, ios}); // not in Android, not Android's, and Tally again: asked once
    MainLogSince checkLog;
    QList<QUuid> closedWindows;
    QDateTime now(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);
    AppUpdates updates{{{}, [&](const QUuid& id) { closedWindows.append(id); }, [&] { return now; }}};
    const auto idle = [&] { return waitUntil([&] { return !updates.isChecking(); }, 30000); };
    const auto settle = qScopeGuard(idle); // a check cut short by a failed assertion ends before its owner
    const auto check = [&](Trigger trigger = Trigger::forced, qint64 seconds = 1) { // whether one ran
        now = now.addSecs(seconds);
        updates.checkIfDue(store, trigger);
        EXPECT_TRUE(idle());
        return updates.lastCheck() == now;
    };
    const auto offered = [&] { // "<store> <version>" of the update on offer, or "none"
        const std::optional<AppUpdate> found = updates.update(store.apps().first());
        return found ? UpdateSources::displayName(found->source) + u' ' + found->versionName : u"none"_s;
    };

    const QByteArray nine = R"({"suggestedVersionCode":9})";
    plain.serve(fdroidApi, {200, nine});
    const char* const izzyAlone = "IzzyOnDroid 2.0 1"; // F-Droid's answer refused (a 404 is not JSON either)
    // F-Droid's answer or fault, IzzyOnDroid's code, and then "<store> <version> <candidates>" on offer.
    const std::tuple<Answer, qint64, const char*> cases[]{
        {versions(1), 0, "none 0"}, // equal and lower codes
        // The same code in both: F-Droid's, named by its code when no version of that code has a name.
        {{200, R"({"suggestedVersionCode":3,"packages":[{"versionName":"x"}]})"}, 3, "F-Droid 3 2"},
        {versions(2), 4, "IzzyOnDroid 4.0 2"},
        {{500, nine}, 2, izzyAlone},
        {{200, "<html>maintenance</html>"}, 2, izzyAlone},
        {{200, R"({"packages":[{"versionCode":9}]})"}, 2, izzyAlone}, // no suggested code
        {{200, R"({"suggestedVersionCode":"9"})"}, 2, izzyAlone},
        {{200, R"({"suggestedVersionCode":9.5})"}, 2, izzyAlone},
        {{200, R"({"suggestedVersionCode":1e300})"}, 2, izzyAlone}, // beyond 2^53
        {{200, R"([{"suggestedVersionCode":9}])"}, 2, izzyAlone},
        {{200, nine + QByteArray(UpdateTransport::maxAnswerBytes, ' ')}, 2, izzyAlone}, // over the size cap
        {{302, {}, -1, -1, false, plain.url(QString::fromUtf8(fdroidApi)).toEncoded()}, 2, izzyAlone},
        {{200, R"({"suggestedVersionCode":9,"packages":[{"versionName":"2.0","versionCode":10},
            {"versionName":"1.4","versionCode":9},{"versionName":"dup","versionCode":9}]})"},
         2,
         "F-Droid 1.4 2"}, // the first element of the suggested code names it
    };
    for (const auto& [answer, izzyCode, expected] : cases) {
        SCOPED_TRACE(std::to_string(answer.status) + ' ' + answer.body.left(80).toStdString());
        stores.serve(fdroidApi, answer);
        stores.serve(izzyApi, versions(izzyCode));
        const qsizetype before = stores.requests.size();
        ASSERT_TRUE(check());
        const qsizetype candidates = updates.candidates().value(tally).size();
        EXPECT_EQ(offered() + u' ' + QString::number(candidates), QString::fromUtf8(expected));
        EXPECT_EQ(updates.lastMessage(),
                  candidates ? u"1 update(s) available"_s : u"All apps are up to date"_s);
        EXPECT_EQ(stores.requests.size(), before + 2); // each asked once for Tally, whatever it answered
    }
    EXPECT_EQ(checkLog.count(u"updates: checked 2 apps in [\"F-Droid\", \"IzzyOnDroid\"], 1 available "
                             u"[\"org.vantle.tally\": \"1.4 (F-Droid)\"]"_s),
              1);
    SCOPED_TRACE("an empty library; only the stores turned on are asked");
    store.setApps({ios});
    EXPECT_FALSE(check());
    EXPECT_EQ(updates.lastMessage(), QString());
    store.setApps({app});

    VantleSettings::set(SettingsKeys::updatesFDroid, false);
    VantleSettings::set(SettingsKeys::updatesIzzy, false);
    EXPECT_FALSE(check());
    EXPECT_EQ(updates.lastMessage(), u"No store is turned on"_s);
    VantleSettings::set(SettingsKeys::updatesIzzy, true);
    stores.requests.clear(); // IzzyOnDroid offers 2 since the table's last row
    updates.checkIfDue(store, Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking IzzyOnDroid…"_s);
    ASSERT_TRUE(idle());
    EXPECT_EQ(stores.requests.size(), 1); // IzzyOnDroid alone
    EXPECT_EQ(offered(), u"IzzyOnDroid 2.0"_s);

    SCOPED_TRACE("no second check while one runs (F-Droid's answer stalls)");
    VantleSettings::set(SettingsKeys::updatesFDroid, true);
    const QByteArray slow = R"({"suggestedVersionCode":12,"packages":[{"versionName":7,"versionCode":12}]})";
    stores.serve(fdroidApi, {200, slow, -1, 0});
    updates.checkIfDue(store, Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking F-Droid and IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([&] { return stores.requests.size() == 2; })); // F-Droid's, stalled
    updates.checkIfDue(store, Trigger::forced);
    waitUntil([] { return false; }, 400); // past the first byte the server sends into a stall
    EXPECT_TRUE(updates.isChecking());
    stores.release();
    ASSERT_TRUE(idle());
    EXPECT_EQ(stores.requests.size(), 3);  // and IzzyOnDroid's: one check
    EXPECT_EQ(offered(), u"F-Droid 12"_s); // a version without a name (as a string) is called by its code

    SCOPED_TRACE("automatic checks wait six hours after the last check and obey the setting");
    stores.serve(fdroidApi, versions(2));
    EXPECT_FALSE(check(Trigger::automatic, 60));
    EXPECT_TRUE(check());
    EXPECT_FALSE(check(Trigger::automatic, 21599));
    EXPECT_TRUE(check(Trigger::automatic));
    VantleSettings::set(SettingsKeys::checkUpdates, false);
    EXPECT_FALSE(check(Trigger::automatic, 86400));
    EXPECT_TRUE(check()); // forced ones still run

    const auto packagesFolder = [] {
        return QDir(AndroidRuntimeCLI::packagesDirectory()).entryList(QDir::Files | QDir::Hidden);
    };
    // Installs and returns the message; what failed leaves the app, the library and the offer.
    const auto failedInstall = [&] {
        updates.install(store.apps().first(), store);
        EXPECT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 60000));
        EXPECT_EQ(AppUpdates::installedVersionCode(tally), 1);
        EXPECT_EQ(store.apps(), QList<MobileApp>{app});
        EXPECT_EQ(packagesFolder(), QStringList());
        EXPECT_TRUE(updates.update(store.apps().first())) << "the update is still on offer";
        return store.statusMessage();
    };
    SCOPED_TRACE("only HTTPS (the mirror moved to plain HTTP on another computer), and only whole answers");
    stores.serve(izzyApk, {200, signedApk(2, 'a'), 1000});
    std::optional<ScopedEnvironment> remote(std::in_place, "VANTLE_FDROID_URL", u"http://192.0.2.1:9"_s);
    const QString refused = u"F-Droid: update failed: refused the address http://192.0.2.1:9/repo/"
                            u"org.vantle.tally_2.apk (only HTTPS) · IzzyOnDroid: update failed: "_s;
    EXPECT_EQ(failedInstall().left(refused.size()), refused); // the rest is the network's words
    remote.reset();
    SCOPED_TRACE("a download that is not the app is refused before installing; no redirect to HTTP");
    stores.serve("/repo/org.vantle.tally_2.apk", {200, readFile(u"" VANTLE_SIM_TEST_DATA "/notes.apk"_s)});
    plain.serve(izzyApk, {200, signedApk(2, 'a')});
    stores.serve(izzyApk, {302, {}, -1, -1, false, plain.url(QString::fromUtf8(izzyApk)).toEncoded()});
    EXPECT_EQ(failedInstall(), u"F-Droid: the download is not org.vantle.tally · IzzyOnDroid: update "
                               u"failed: refused a redirect from HTTPS to plain HTTP"_s);
    EXPECT_EQ(AndroidRuntimeCLI::runADB({u"shell"_s, u"pm list packages org.vantle.sim.notes"_s}), QString());
    EXPECT_TRUE(plain.requests.isEmpty());

    SCOPED_TRACE("every store says why when all fail");
    stores.serve(fdroidApi, versions(3));
    stores.serve(fdroidApk, {200, signedApk(3, 'b')});
    stores.serve(izzyApk, {404, "Not Found"});
    ASSERT_TRUE(check());
    EXPECT_EQ(failedInstall(),
              u"F-Droid: this copy was installed from a different store · IzzyOnDroid: Download failed"_s);

    SCOPED_TRACE("the menu installs the next store's copy (an HTTPS redirect): the best one's key differs");
    RecordingLauncherActions actions;
    AppIconStore icons{[](const QUuid&, const QString&, MobilePlatform) { return std::nullopt; }};
    MenuPanel panel(store, actions, {[] { return true; }, {}, {}, &icons, &updates});
    const auto tile = [&panel] { return panel.tiles().first(); };
    stores.serve("/mirror/tally.apk", {200, signedApk(2, 'a')});
    stores.serve(izzyApk, {302, {}, -1, -1, false, stores.url(u"/mirror/tally.apk"_s).toEncoded()});
    ASSERT_EQ(updates.update(store.apps().first()), (AppUpdate{tally, 3, u"3.0"_s, fdroid}));
    EXPECT_EQ(tile()->accessibleDescription(), u"Update available"_s);
    QStringList marks; // the ring and the menu's update item each time the updating set changes
    QObject::connect(&updates, &AppUpdates::updatingChanged, &panel, [&] {
        marks.append((tile()->isUpdatingMarked() ? u"ring:"_s : u"no ring:"_s) +
                     menuTexts(*tile()->makeContextMenu()).filter(u"Update to"_s).join(u'|'));
    });
    EXPECT_EQ(menuTexts(*tile()->makeContextMenu(), u"Update to 3.0"_s),
              (QStringList{u"Add to favourites"_s, u"Update to 3.0"_s, AppTile::revealTitle(),
                           u"Remove from Vantle"_s, u"Uninstall from Android…"_s}));
    EXPECT_EQ(store.statusMessage(), u"Updating Tally…"_s);
    updates.install(store.apps().first(), store); // a second quick press
    ASSERT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 60000));
    EXPECT_EQ(marks, (QStringList{u"ring:"_s, u"no ring:"_s})); // one install
    EXPECT_EQ(closedWindows, QList<QUuid>(4, app.id));          // one per install: three refused, this one
    EXPECT_EQ(tile()->accessibleDescription(), QString());      // the badge is gone
    const QString installed = AndroidRuntimeCLI::packagesDirectory() + u"/org.vantle.tally-2.apk"_s;
    EXPECT_EQ(store.statusMessage(), u"Tally updated to 2.0 (IzzyOnDroid)"_s);
    EXPECT_EQ(AppUpdates::installedVersionCode(tally), 2);
    EXPECT_EQ(store.apps(),
              (QList<MobileApp>{{app.id, u"Tally"_s, MobilePlatform::android, installed, tally, {}}}));
    EXPECT_EQ(AndroidRuntimeCLI::knownPackage(installed), tally);
    EXPECT_EQ(packagesFolder(), QStringList{u"org.vantle.tally-2.apk"_s}); // the refused copy is gone
    EXPECT_FALSE(updates.candidates().contains(tally));
    EXPECT_EQ(checkLog.count(u"updates: org.vantle.tally -> Tally updated to 2.0 (IzzyOnDroid)"_s), 1);
    ASSERT_TRUE(check()); // until a later check finds a newer one
    EXPECT_EQ(offered(), u"F-Droid 3.0"_s);

    SCOPED_TRACE("without an Android nothing is called up to date, the last results stay, an install fails");
    android.reset();
    const qsizetype requests = stores.requests.size();
    ASSERT_TRUE(check());
    EXPECT_EQ(updates.lastMessage(), u"Updates not checked: Android is not running"_s);
    EXPECT_EQ(stores.requests.size(), requests);
    updates.install(store.apps().first(), store);
    ASSERT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 20000));
    EXPECT_TRUE(updates.lastMessage().startsWith(u"F-Droid: update failed: "_s))
        << updates.lastMessage().toStdString();
    EXPECT_EQ(offered(), u"F-Droid 3.0"_s);
}

} // namespace
