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
#include "updates/UpdateSource.h"
#include "updates/UpdateTransport.h"

#include <QDir>
#include <QMenu>
#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString tally = u"org.vantle.tally"_s;

// The loopback servers' certificate, trusted from the first call on as a system CA would be;
// certificate verification stays on.
const LoopbackHttpServer::Tls& trustedCertificate() {
    static const LoopbackHttpServer::Tls& tls = []() -> const LoopbackHttpServer::Tls& {
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificate(LoopbackHttpServer::selfSigned().certificate);
        QSslConfiguration::setDefaultConfiguration(trusting);
        return LoopbackHttpServer::selfSigned();
    }();
    return tls;
}

struct StoreServers {
    LoopbackHttpServer fdroid{trustedCertificate()}, izzy{trustedCertificate()};
    // With trailing slashes, as a mirror's address may be written.
    ScopedEnvironment fdroidBase{"VANTLE_FDROID_URL", fdroid.url(u"/"_s).toString()};
    ScopedEnvironment izzyBase{"VANTLE_IZZYONDROID_URL", izzy.url(u"/fdroid//"_s).toString()};

    LoopbackHttpServer& server(UpdateSource source) { return source == UpdateSource::fdroid ? fdroid : izzy; }
    static QByteArray apiPath(UpdateSource source, const QString& package) {
        return (source == UpdateSource::fdroid ? "" : "/fdroid") + "/api/v1/packages/"_ba + package.toUtf8();
    }
    static QByteArray apkPath(UpdateSource source, const QString& package, qint64 code) {
        return (source == UpdateSource::fdroid ? "" : "/fdroid") + "/repo/"_ba + package.toUtf8() + '_' +
               QByteArray::number(code) + ".apk";
    }
    // The package API's answer as the stores write it: the suggested code, the versions held newest first.
    void offer(UpdateSource source, const QString& package, qint64 code, const QString& versionName) {
        server(source).serve(apiPath(source, package),
                             {200, (uR"({"suggestedVersionCode":%2,"packages":[{"versionName":)"
                                    uR"("%3","versionCode":%2},{"versionCode":%4}]})"_s)
                                       .arg(QString::number(code), versionName, QString::number(code - 1))
                                       .toUtf8()});
    }
    void serveApk(UpdateSource source, const QString& package, qint64 code, const QString& file) {
        server(source).serve(apkPath(source, package, code), {200, readFile(file)});
    }
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
    QList<AppUpdate> found{{tally, 5, u"5"_s, UpdateSource::fdroid},
                           {tally, 7, u"7i"_s, UpdateSource::izzy},
                           {tally, 7, u"7f"_s, UpdateSource::fdroid}};
    UpdateRules::sortBestFirst(found);
    EXPECT_EQ(found.first().versionName + found.last().versionName, u"7i5"_s); // stable: the order asked

    // A version name from a repository cannot start a log line of its own or fill a placeholder.
    EXPECT_EQ(
        UpdateRules::checkLogLine(3, {UpdateSource::fdroid},
                                  {{u"org.a"_s, {u"org.a"_s, 4, u"1.4\nforged %1"_s, UpdateSource::izzy}}}),
        u"updates: checked 3 apps in [\"F-Droid\"], 1 available [\"org.a\": \"1.4\\nforged %1 (IzzyOnDroid)\"]"_s);
    EXPECT_EQ(UpdateRules::installRefusal(u"Failure: signatures do not match"_s),
              u"this copy was installed from a different store"_s);
    const QString refusal =
        UpdateRules::installRefusal(u"\n  adb: Failure [INSTALL_FAILED_OLDER_SDK "_s + QString(200, u'x'));
    EXPECT_EQ(refusal, u"update failed: adb: Failure [INSTALL_FAILED_OLDER_SDK "_s + QString(81, u'x'));

    ScopedEnvironment noFDroid("VANTLE_FDROID_URL", QString()), noIzzy("VANTLE_IZZYONDROID_URL", QString());
    EXPECT_EQ(UpdateSources::apiURL(UpdateSource::fdroid, tally),
              QUrl(u"https://f-droid.org/api/v1/packages/org.vantle.tally"_s));
    EXPECT_EQ(UpdateSources::apkURL(UpdateSource::izzy, tally, 42),
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

using Answer = LoopbackHttpServer::Answer;
using Trigger = AppUpdates::Trigger;

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
    QTemporaryDir home; // no Android here: an install fails when it asks for one
    ScopedEnvironment vantleHome{"VANTLE_HOME", home.path()};
    ScopedEnvironment sdk{"VANTLE_SDK_REPOSITORY", u"http://127.0.0.1:9/"_s};
    // Asked on the pool; read here only once a check has ended.
    AppUpdates updates{{[this](const QStringList& packages) -> std::optional<QHash<QString, qint64>> {
                            probed.append(packages);
                            QHash<QString, qint64> codes;
                            for (const QString& package : packages)
                                if (installed.contains(package))
                                    codes.insert(package, installed.value(package));
                            return deviceAnswers ? std::optional(codes) : std::nullopt;
                        },
                        [](const QUuid&) {}, [this] { return now; }}};

    void SetUp() override { store.setApps({androidApp(tally)}); }
    // A check cut short by a failed assertion must not outlive the seams' captures.
    void TearDown() override {
        waitUntil([this] { return !updates.isChecking(); }, 20000);
    }
    // Runs one check to its end; false when none started (a check may end before checkIfDue returns).
    bool check(Trigger trigger = Trigger::forced) {
        const qsizetype before = probed.size();
        updates.checkIfDue(store, trigger);
        EXPECT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
        return probed.size() > before;
    }
    // "<store> <version>" of the update on offer, or "none".
    QString offered() const {
        const std::optional<AppUpdate> found = updates.update(store.apps().first());
        return found ? UpdateSources::displayName(found->source) + u' ' + found->versionName : u"none"_s;
    }
};

// F-Droid's answer or fault beside IzzyOnDroid's offer, and what is then on offer (5 is installed).
TEST_F(AppUpdatesCheckTest, TheBestNewerVersionIsAvailable) {
    LoopbackHttpServer plain;
    const QByteArray nine = R"({"suggestedVersionCode":9})";
    plain.serve(StoreServers::apiPath(UpdateSource::fdroid, tally), {200, nine});
    const struct {
        const char* title;
        std::optional<Answer> fdroidFault; // nothing: F-Droid offers `fdroidCode`
        qint64 fdroidCode, izzyCode;
        const char* offered;
        qsizetype candidates;
    } cases[]{
        {"equal and lower codes", {}, 5, 4, "none", 0},
        {"same code in both: F-Droid", {}, 7, 7, "F-Droid 7.0", 2},
        {"IzzyOnDroid newer", {}, 6, 8, "IzzyOnDroid 8.0", 2},
        {"404", Answer{404, "Not Found"}, 0, 6, "IzzyOnDroid 6.0", 1},
        {"500", Answer{500, nine}, 0, 6, "IzzyOnDroid 6.0", 1},
        {"not JSON", Answer{200, "<html>maintenance</html>"}, 0, 6, "IzzyOnDroid 6.0", 1},
        {"no suggested code", Answer{200, R"({"packages":[{"versionCode":9}]})"}, 0, 6, "IzzyOnDroid 6.0", 1},
        {"code as text", Answer{200, R"({"suggestedVersionCode":"9"})"}, 0, 6, "IzzyOnDroid 6.0", 1},
        {"not an integer", Answer{200, R"({"suggestedVersionCode":9.5})"}, 0, 6, "IzzyOnDroid 6.0", 1},
        {"beyond 2^53", Answer{200, R"({"suggestedVersionCode":1e300})"}, 0, 6, "IzzyOnDroid 6.0", 1},
        {"not an object", Answer{200, R"([{"suggestedVersionCode":9}])"}, 0, 6, "IzzyOnDroid 6.0", 1},
        // The first element of the suggested code names it; without one, or without a string name: the code.
        {"name of the code's first element",
         Answer{200, R"({"suggestedVersionCode":9,"packages":[{"versionName":"2.0","versionCode":10},
            {"versionName":"1.4","versionCode":9},{"versionName":"dup","versionCode":9}]})"},
         0, 6, "F-Droid 1.4", 2},
        {"name not text",
         Answer{200, R"({"suggestedVersionCode":9,"packages":[{"versionName":7,"versionCode":9}]})"}, 0, 6,
         "F-Droid 9", 2},
        {"9.0, no list", Answer{200, R"({"suggestedVersionCode":9.0,"packages":"nope"})"}, 0, 6, "F-Droid 9",
         2},
        {"over the size cap", Answer{200, nine + QByteArray(UpdateTransport::maxAnswerBytes, ' ')}, 0, 6,
         "IzzyOnDroid 6.0", 1},
        {"redirect to plain HTTP",
         Answer{302, {}, -1, -1, false, plain.url(u"/api/v1/packages/"_s + tally).toEncoded()}, 0, 6,
         "IzzyOnDroid 6.0", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        c.fdroidFault
            ? stores.fdroid.serve(StoreServers::apiPath(UpdateSource::fdroid, tally), *c.fdroidFault)
            : stores.offer(UpdateSource::fdroid, tally, c.fdroidCode, u"%1.0"_s.arg(c.fdroidCode));
        stores.offer(UpdateSource::izzy, tally, c.izzyCode, u"%1.0"_s.arg(c.izzyCode));
        const qsizetype asked = stores.requestCount();
        ASSERT_TRUE(check());
        EXPECT_EQ(offered(), QString::fromUtf8(c.offered));
        EXPECT_EQ(updates.candidates().value(tally).size(), c.candidates);
        EXPECT_EQ(updates.lastMessage(),
                  c.candidates ? u"1 update(s) available"_s : u"All apps are up to date"_s);
        EXPECT_EQ(stores.requestCount(), asked + 2); // each store asked once, whatever it answered
    }
    EXPECT_TRUE(plain.requests.isEmpty());
}

// One library and two stores walked through the rules in order.
TEST_F(AppUpdatesCheckTest, WhatIsAskedAndWhen) {
    const auto fdroidAsked = [&] {
        return stores.requestsFor(UpdateSource::fdroid, StoreServers::apiPath(UpdateSource::fdroid, tally));
    };
    RecordingLauncherActions actions;
    AppIconStore icons{[](const QUuid&, const QString&, MobilePlatform) { return std::nullopt; }};
    MenuPanel panel(store, actions,
                    {.runtimeComplete = [] { return true; },
                     .chooseFiles = {},
                     .localHour = {},
                     .icons = &icons,
                     .updates = &updates});
    const auto tile = [&panel](const QString& name) -> AppTile* {
        for (AppTile* t : panel.tiles())
            if (t->app().name == name) return t;
        return nullptr;
    };
    const auto texts = [&tile](const QString& name) {
        QStringList texts;
        const std::unique_ptr<QMenu> menu = tile(name)->makeContextMenu();
        for (const QAction* action : menu->actions())
            if (!action->isSeparator()) texts.append(action->text());
        return texts;
    };
    ASSERT_TRUE(tile(u"Tally"_s));
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), std::nullopt);
    VantleSettings::set(SettingsKeys::updatesFDroid, false);
    VantleSettings::set(SettingsKeys::updatesIzzy, false);
    EXPECT_FALSE(check());
    EXPECT_EQ(updates.lastMessage(), u"No store is turned on"_s);
    VantleSettings::set(SettingsKeys::updatesIzzy, true);
    stores.offer(UpdateSource::fdroid, tally, 9, u"9.0"_s);
    stores.offer(UpdateSource::izzy, tally, 6, u"6.0"_s);
    updates.checkIfDue(store, Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
    EXPECT_EQ(stores.fdroid.requests.size(), 0);
    EXPECT_EQ(offered(), u"IzzyOnDroid 6.0"_s);

    SCOPED_TRACE("no second check while one runs (F-Droid's answer stalls)");
    VantleSettings::set(SettingsKeys::updatesFDroid, true);
    stores.fdroid.serve(StoreServers::apiPath(UpdateSource::fdroid, tally),
                        {200, "{\"suggestedVersionCode\":12}", -1, 0});
    updates.checkIfDue(store, Trigger::forced);
    EXPECT_EQ(updates.lastMessage(), u"Checking F-Droid and IzzyOnDroid…"_s);
    ASSERT_TRUE(waitUntil([&] { return fdroidAsked() == 1; }));
    updates.checkIfDue(store, Trigger::forced);
    waitUntil([] { return false; }, 400); // past the first byte the server sends into a stall
    stores.fdroid.release();
    ASSERT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 20000));
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
    stores.offer(UpdateSource::fdroid, tally, 6, u"6.0"_s);
    probed.clear();
    MainLogSince log;
    ASSERT_TRUE(check());
    EXPECT_EQ(probed, (QStringList{tally, absent}));
    EXPECT_EQ(stores.requestsFor(UpdateSource::fdroid, StoreServers::apiPath(UpdateSource::fdroid, absent)),
              0);
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
    EXPECT_EQ(texts(u"Tally"_s),
              (QStringList{u"Add to favourites"_s, u"Update to 6.0"_s, AppTile::revealTitle(),
                           u"Remove from Vantle"_s, u"Uninstall from Android…"_s}));
    // The install may end before trigger() returns: the marks are read as the updating set changes.
    QList<bool> ringShown;
    QStringList menuWhileUpdating;
    QObject::connect(&updates, &AppUpdates::updatingChanged, &panel, [&] {
        ringShown.append(tile(u"Tally"_s)->isUpdatingMarked());
        if (ringShown.size() == 1) menuWhileUpdating = texts(u"Tally"_s);
    });
    tile(u"Tally"_s)->makeContextMenu()->actions().at(1)->trigger();
    ASSERT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 20000));
    EXPECT_EQ(ringShown, (QList<bool>{true, false}));
    EXPECT_FALSE(menuWhileUpdating.join(u' ').contains(u"Update to"_s))
        << menuWhileUpdating.join(u'|').toStdString();
    EXPECT_TRUE(updates.lastMessage().startsWith(u"F-Droid: update failed: "_s))
        << updates.lastMessage().toStdString();
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), u"6.0"_s); // still on offer
}

QString signedApk(int version, char key) {
    return QStringLiteral(VANTLE_UPDATE_APKS) + u"/tally-%1-%2.apk"_s.arg(version).arg(QLatin1Char(key));
}

// Tally 1.0 signed with key A, installed in Android and in the library (its package known only from the
// install record, as for an APK the user added); the failures first, as each leaves it so.
TEST(AppUpdatesInstallTest, RefusalsLeaveTheAppThenTheNextStoreInstalls) {
    ScopedSettings settings;
    SimulatedAndroidHome android;
    StoreServers stores;
    LoopbackHttpServer plain;
    QTemporaryDir library;
    AppLibraryStore store;
    QList<QUuid> closedWindows;
    AppUpdates updates{{{}, [&](const QUuid& id) { closedWindows.append(id); }, {}}};
    MobileApp app = androidApp(tally);
    app.sourcePath = library.filePath(u"Tally.apk"_s);
    app.bundleIdentifier.reset();
    ASSERT_TRUE(QFile::copy(signedApk(1, 'a'), app.sourcePath));
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    ASSERT_TRUE(AndroidRuntimeCLI::adbDevice({u"install"_s, u"-r"_s, app.sourcePath}).contains(u"Success"_s));
    AndroidRuntimeCLI::rememberInstalled(app.sourcePath, tally);
    store.setApps({app});

    const auto packagesFolder = [] {
        return QDir(AndroidRuntimeCLI::packagesDirectory()).entryList(QDir::Files | QDir::Hidden);
    };
    const auto check = [&] {
        updates.checkIfDue(store, AppUpdates::Trigger::forced);
        return waitUntil([&] { return !updates.isChecking(); }, 30000);
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
    const auto izzyApk = StoreServers::apkPath(UpdateSource::izzy, tally, 2);
    {
        SCOPED_TRACE("only HTTPS, and only whole answers");
        stores.offer(UpdateSource::fdroid, tally, 2, u"2.0"_s);
        stores.offer(UpdateSource::izzy, tally, 2, u"2.0"_s);
        stores.izzy.serve(izzyApk, {200, readFile(signedApk(2, 'a')), 1000});
        ASSERT_TRUE(check());
        // The mirror moved to plain HTTP on another computer: nothing is fetched from there.
        ScopedEnvironment remote("VANTLE_FDROID_URL", u"http://192.0.2.1:9"_s);
        const QString message = failedInstall();
        EXPECT_TRUE(
            message.startsWith(u"F-Droid: update failed: refused the address http://192.0.2.1:9/repo/"
                               u"org.vantle.tally_2.apk (only HTTPS) · IzzyOnDroid: update failed: "_s))
            << message.toStdString();
    }
    {
        SCOPED_TRACE("a download that is not the app is refused before installing; no redirect to HTTP");
        stores.serveApk(UpdateSource::fdroid, tally, 2, QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk"));
        plain.serve(izzyApk, {200, readFile(signedApk(2, 'a'))});
        stores.izzy.serve(izzyApk,
                          {302, {}, -1, -1, false, plain.url(QString::fromUtf8(izzyApk)).toEncoded()});
        EXPECT_EQ(failedInstall(), u"F-Droid: the download is not org.vantle.tally · IzzyOnDroid: update "
                                   u"failed: refused a redirect from HTTPS to plain HTTP"_s);
        EXPECT_EQ(AndroidRuntimeCLI::runADB({u"shell"_s, u"pm list packages org.vantle.sim.notes"_s}),
                  QString());
        EXPECT_TRUE(plain.requests.isEmpty());
    }
    {
        SCOPED_TRACE("every store says why when all fail");
        stores.offer(UpdateSource::fdroid, tally, 3, u"3.0"_s);
        stores.serveApk(UpdateSource::fdroid, tally, 3, signedApk(3, 'b'));
        stores.izzy.serve(izzyApk, {404, "Not Found"});
        ASSERT_TRUE(check());
        EXPECT_EQ(
            failedInstall(),
            u"F-Droid: this copy was installed from a different store · IzzyOnDroid: Download failed"_s);
    }
    SCOPED_TRACE("the next store installs (over a redirect on HTTPS) when the best copy has another key");
    stores.izzy.serve("/mirror/tally.apk", {200, readFile(signedApk(2, 'a'))});
    stores.izzy.serve(izzyApk, {302, {}, -1, -1, false, stores.izzy.url(u"/mirror/tally.apk"_s).toEncoded()});
    ASSERT_EQ(updates.update(store.apps().first()), (AppUpdate{tally, 3, u"3.0"_s, UpdateSource::fdroid}));
    const auto apkRequests = [&] {
        return stores.requestsFor(UpdateSource::fdroid,
                                  StoreServers::apkPath(UpdateSource::fdroid, tally, 3)) +
               stores.requestsFor(UpdateSource::izzy, izzyApk);
    };
    const qsizetype requestsBefore = apkRequests(), closedBefore = closedWindows.size();
    MainLogSince log;
    updates.install(store.apps().first(), store);
    EXPECT_EQ(store.statusMessage(), u"Updating Tally…"_s);
    updates.install(store.apps().first(), store); // a second quick press
    ASSERT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 60000));
    const QString installed = AndroidRuntimeCLI::packagesDirectory() + u"/org.vantle.tally-2.apk"_s;
    EXPECT_EQ(updates.lastMessage(), u"Tally updated to 2.0 (IzzyOnDroid)"_s);
    EXPECT_EQ(store.statusMessage(), updates.lastMessage());
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
