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

class AppUpdatesInstallTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    StoreServers stores;
    QTemporaryDir library;
    AppLibraryStore store;
    QList<QUuid> closedWindows;
    AppUpdates updates{{{}, [this](const QUuid& id) { closedWindows.append(id); }, {}}};
    MobileApp app;

    // Tally 1.0 signed with key A, installed in Android and in the library (its package known only
    // from the install record, as for an APK the user added).
    void SetUp() override {
        const QString file = library.filePath(u"Tally.apk"_s);
        ASSERT_TRUE(QFile::copy(signedApk(1, 'a'), file));
        Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
        ASSERT_TRUE(AndroidRuntimeCLI::adbDevice({u"install"_s, u"-r"_s, file}).contains(u"Success"_s));
        AndroidRuntimeCLI::rememberInstalled(file, tally);
        app.id = QUuid::createUuid();
        app.name = u"Tally"_s;
        app.sourcePath = file;
        store.setApps({app});
    }

    void check() {
        updates.checkIfDue(store, AppUpdates::Trigger::forced);
        ASSERT_TRUE(waitUntil([this] { return !updates.isChecking(); }, 30000));
    }
    void installAndWait() {
        updates.install(store.apps().first(), store);
        ASSERT_TRUE(updates.updating().contains(tally));
        ASSERT_TRUE(waitUntil([this] { return updates.updating().isEmpty(); }, 60000));
    }
    QStringList packagesFolder() const {
        return QDir(AndroidRuntimeCLI::packagesDirectory()).entryList(QDir::Files | QDir::Hidden);
    }
    void expectUnchanged() {
        EXPECT_EQ(AppUpdates::installedVersionCode(tally), 1);
        EXPECT_EQ(store.apps().first().sourcePath, app.sourcePath);
        EXPECT_EQ(store.apps().first().bundleIdentifier, std::nullopt);
        EXPECT_TRUE(packagesFolder().isEmpty()) << packagesFolder().join(u' ').toStdString();
        EXPECT_TRUE(updates.update(store.apps().first())) << "the update is still on offer";
    }
};

TEST_F(AppUpdatesInstallTest, TheNextStoreInstallsWhenTheBestCopyIsSignedByAnother) {
    stores.offer(UpdateSource::fdroid, tally, 3, u"3.0"_s);
    stores.serveApk(UpdateSource::fdroid, tally, 3, signedApk(3, 'b'));
    stores.offer(UpdateSource::izzy, tally, 2, u"2.0"_s);
    stores.serveApk(UpdateSource::izzy, tally, 2, signedApk(2, 'a'));
    check();
    ASSERT_EQ(updates.update(store.apps().first()), (AppUpdate{tally, 3, u"3.0"_s, UpdateSource::fdroid}));

    MainLogSince log;
    updates.install(store.apps().first(), store);
    EXPECT_EQ(store.statusMessage(), u"Updating Tally…"_s);
    updates.install(store.apps().first(), store); // a second quick press
    ASSERT_TRUE(waitUntil([this] { return updates.updating().isEmpty(); }, 60000));

    const QString installed = AndroidRuntimeCLI::packagesDirectory() + u"/org.vantle.tally-2.apk"_s;
    EXPECT_EQ(updates.lastMessage(), u"Tally updated to 2.0 (IzzyOnDroid)"_s);
    EXPECT_EQ(store.statusMessage(), updates.lastMessage());
    EXPECT_EQ(closedWindows, QList<QUuid>{app.id});
    EXPECT_EQ(stores.requestsFor(UpdateSource::fdroid, StoreServers::apkPath(UpdateSource::fdroid, tally, 3)),
              1);
    EXPECT_EQ(stores.requestsFor(UpdateSource::izzy, StoreServers::apkPath(UpdateSource::izzy, tally, 2)), 1);
    EXPECT_EQ(AppUpdates::installedVersionCode(tally), 2);
    EXPECT_EQ(store.apps().first().sourcePath, installed);
    EXPECT_EQ(store.apps().first().bundleIdentifier, tally);
    EXPECT_EQ(AndroidRuntimeCLI::knownPackage(installed), tally);
    EXPECT_EQ(packagesFolder(), QStringList{u"org.vantle.tally-2.apk"_s}); // the refused copy is gone
    EXPECT_EQ(updates.update(store.apps().first()), std::nullopt);
    EXPECT_FALSE(updates.candidates().contains(tally));
    EXPECT_EQ(log.count(u"updates: org.vantle.tally -> Tally updated to 2.0 (IzzyOnDroid)"_s), 1);

    // Until a later check finds a newer one.
    check();
    EXPECT_EQ(updates.update(store.apps().first())->versionCode, 3);
}

TEST_F(AppUpdatesInstallTest, EveryStoreSaysWhyWhenAllFail) {
    stores.offer(UpdateSource::fdroid, tally, 3, u"3.0"_s);
    stores.serveApk(UpdateSource::fdroid, tally, 3, signedApk(3, 'b'));
    stores.offer(UpdateSource::izzy, tally, 2, u"2.0"_s); // its APK answers 404
    check();
    installAndWait();
    EXPECT_EQ(updates.lastMessage(),
              u"F-Droid: this copy was installed from a different store · IzzyOnDroid: Download failed"_s);
    EXPECT_EQ(store.statusMessage(), updates.lastMessage());
    expectUnchanged();
}

TEST_F(AppUpdatesInstallTest, ADownloadThatIsNotTheAppIsRefusedBeforeInstalling) {
    stores.offer(UpdateSource::fdroid, tally, 2, u"2.0"_s);
    stores.serveApk(UpdateSource::fdroid, tally, 2, QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk"));
    stores.offer(UpdateSource::izzy, tally, 2, u"2.0"_s);
    stores.izzy.serve(StoreServers::apkPath(UpdateSource::izzy, tally, 2), {200, "<html>not an APK</html>"});
    check();
    installAndWait();
    EXPECT_EQ(updates.lastMessage(), u"F-Droid: the download is not org.vantle.tally · IzzyOnDroid: the "
                                     u"download is not org.vantle.tally"_s);
    EXPECT_EQ(AndroidRuntimeCLI::runADB({u"shell"_s, u"pm list packages org.vantle.sim.notes"_s}), QString());
    expectUnchanged();
}

TEST_F(AppUpdatesInstallTest, UpdatesComeOnlyOverHttps) {
    stores.offer(UpdateSource::fdroid, tally, 2, u"2.0"_s);
    stores.serveApk(UpdateSource::fdroid, tally, 2, signedApk(2, 'a'));
    check();
    ASSERT_TRUE(updates.update(store.apps().first()));
    // The mirror moved to plain HTTP on another computer: nothing is fetched from there.
    ScopedEnvironment remote("VANTLE_FDROID_URL", u"http://192.0.2.1:9"_s);
    installAndWait();
    EXPECT_EQ(updates.lastMessage(), u"F-Droid: update failed: refused the address "
                                     u"http://192.0.2.1:9/repo/org.vantle.tally_2.apk (only HTTPS)"_s);
    expectUnchanged();
}

} // namespace
