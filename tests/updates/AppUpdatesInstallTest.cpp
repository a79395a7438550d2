// Installing updates over an app on the simulated Android: version codes read from the device,
// APKs signed with two test keys (a copy from "another store" is refused by Android), the candidates
// tried best first, the messages per store, the downloaded file checked before it is installed.
#include "StoreServer.h"
#include "core/AppLibraryStore.h"
#include "core/WaitFor.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"
#include "updates/AppUpdates.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString tally = u"org.vantle.tally"_s;
QString signedApk(int version, char key) {
    return QStringLiteral(VANTLE_UPDATE_APKS) + u"/tally-%1-%2.apk"_s.arg(version).arg(QLatin1Char(key));
}

// Tally 1.0 signed with key A, installed in Android and in the library (its package known only from
// the install record, as for an APK the user added); the failures first, as each leaves it so.
TEST(AppUpdatesInstallTest, RefusalsLeaveTheAppThenTheNextStoreInstalls) {
    ScopedSettings settings;
    SimulatedAndroidHome android;
    StoreServers stores;
    QTemporaryDir library;
    AppLibraryStore store;
    QList<QUuid> closedWindows;
    AppUpdates updates{{{}, [&](const QUuid& id) { closedWindows.append(id); }, {}}};
    MobileApp app;
    app.id = QUuid::createUuid();
    app.name = u"Tally"_s;
    app.sourcePath = library.filePath(u"Tally.apk"_s);
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
    {
        SCOPED_TRACE("updates come only over HTTPS");
        stores.offer(UpdateSource::fdroid, tally, 2, u"2.0"_s);
        stores.serveApk(UpdateSource::fdroid, tally, 2, signedApk(2, 'a'));
        ASSERT_TRUE(check());
        // The mirror moved to plain HTTP on another computer: nothing is fetched from there.
        ScopedEnvironment remote("VANTLE_FDROID_URL", u"http://192.0.2.1:9"_s);
        EXPECT_EQ(failedInstall(), u"F-Droid: update failed: refused the address "
                                   u"http://192.0.2.1:9/repo/org.vantle.tally_2.apk (only HTTPS)"_s);
    }
    {
        SCOPED_TRACE("a download that is not the app is refused before installing");
        stores.serveApk(UpdateSource::fdroid, tally, 2, QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk"));
        stores.offer(UpdateSource::izzy, tally, 2, u"2.0"_s);
        stores.izzy.serve(StoreServers::apkPath(UpdateSource::izzy, tally, 2),
                          {200, "<html>not an APK</html>"});
        ASSERT_TRUE(check());
        EXPECT_EQ(failedInstall(), u"F-Droid: the download is not org.vantle.tally · IzzyOnDroid: the "
                                   u"download is not org.vantle.tally"_s);
        EXPECT_EQ(AndroidRuntimeCLI::runADB({u"shell"_s, u"pm list packages org.vantle.sim.notes"_s}),
                  QString());
    }
    {
        SCOPED_TRACE("every store says why when all fail");
        stores.offer(UpdateSource::fdroid, tally, 3, u"3.0"_s);
        stores.serveApk(UpdateSource::fdroid, tally, 3, signedApk(3, 'b'));
        stores.izzy.serve(StoreServers::apkPath(UpdateSource::izzy, tally, 2), {404, "Not Found"});
        ASSERT_TRUE(check());
        EXPECT_EQ(
            failedInstall(),
            u"F-Droid: this copy was installed from a different store · IzzyOnDroid: Download failed"_s);
    }
    SCOPED_TRACE("the next store installs when the best copy is signed by another key");
    stores.serveApk(UpdateSource::izzy, tally, 2, signedApk(2, 'a'));
    ASSERT_EQ(updates.update(store.apps().first()), (AppUpdate{tally, 3, u"3.0"_s, UpdateSource::fdroid}));
    const auto apkRequests = [&] {
        return stores.requestsFor(UpdateSource::fdroid,
                                  StoreServers::apkPath(UpdateSource::fdroid, tally, 3)) +
               stores.requestsFor(UpdateSource::izzy, StoreServers::apkPath(UpdateSource::izzy, tally, 2));
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
