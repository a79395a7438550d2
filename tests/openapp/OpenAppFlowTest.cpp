// Opening apps end to end on the simulated Android; each test is a scenario over one boot of the device.
#include "openapp/OpenAppFlow.h"

#include "apk/APKIconExtractor.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/WaitFor.h"
#include "external/AndroidSessionRegistry.h"
#include "platform/Locations.h"
#include "platform/Virtualisation.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "sim/SimControl.h"
#include "stream/AndroidStreamClient.h"
#include "stream/AndroidVideoView.h"
#include "support/DeviceFiles.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <QFile>
#include <QJsonDocument>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");
const QString weatherApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/weather.apk");

class OpenAppFlowTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    std::unique_ptr<VantleApp> vantle;
    AppLibraryStore* store = nullptr;
    std::unique_ptr<OpenAppFlow> flow;
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    bool confirmAnswer = true;
    struct Offered {
        OpenAppFlow::Offer offer;
        std::function<void(int)> choose;
    };
    QList<Offered> offers;
    std::optional<QString> located; // what the user picks when asked to locate an APK
    int updateChecksAsked = 0;
    std::optional<MainLogSince> log;

    void SetUp() override {
        qputenv("VANTLE_BUNDLE", VANTLE_BUILD_BRIDGE); // the build tree's display bridge
        RuntimeComponentLocator::clearCache();
        VantleSettings::set(SettingsKeys::forwardAudio, false);
        // Composed as the app composes it: the open requests and the runtime events reach the
        // flow and the store through VantleApp.
        VantleApp::Steps steps;
        steps.launch = [this](const MobileApp& app) { flow->launch(app); };
        steps.refreshAndroidState = [this] { flow->refreshAndroidState(); };
        AppLibraryStore::Seams seams;
        // Every file counts as an APK here, so that a broken one reaches the install.
        seams.readApk = [](const QString& path) { return ApkReading{true, APKIconExtractor::label(path)}; };
        vantle = std::make_unique<VantleApp>(LaunchArguments{}, seams, steps);
        store = &vantle->store();
        OpenAppFlow::Seams flowSeams;
        flowSeams.confirm = [this](const QString&, const QString&, const QString&) { return confirmAnswer; };
        flowSeams.offer = [this](const OpenAppFlow::Offer& offer, std::function<void(int)> choose) {
            offers.append({offer, std::move(choose)});
        };
        flowSeams.locateApk = [this](const MobileApp&) { return located; };
        flowSeams.checkUpdatesWhenDue = [this] { ++updateChecksAsked; };
        flow = std::make_unique<OpenAppFlow>(*store, flowSeams);
        vantle->start();
        log.emplace();
    }
    void TearDown() override {
        closeAll();
        registry.cancelIdleShutdown();
        flow.reset();
        vantle.reset();
        qunsetenv("VANTLE_BUNDLE");
    }

    qsizetype logCount(const QString& prefix) const { return log->count(prefix); }
    bool closeAll() {
        registry.closeAll();
        return waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
    }
    MobileApp add(const QString& apk) {
        const qsizetype before = store->apps().size();
        store->addFiles({QUrl::fromLocalFile(apk)});
        EXPECT_TRUE(waitUntil([&] { return store->apps().size() == before + 1; }));
        return store->apps().last();
    }
    AndroidWindowSession* waitForFrames(const MobileApp& app) {
        AndroidWindowSession* session = nullptr;
        EXPECT_TRUE(waitUntil(
            [&] {
                session = registry.session(app.id);
                return session && !session->videoView()->currentFrame().isNull() &&
                       session->client()->videoSize().isValid();
            },
            30000))
            << store->statusMessage().toStdString();
        return session;
    }
    SimControl device() const { return SimControl(Locations::runtime(), 35); }
    // How many times the device was asked to force-stop the package.
    qsizetype forceStops(const QString& package) const {
        const QList<QJsonObject> events = device().received();
        return std::count_if(events.cbegin(), events.cend(), [&](const QJsonObject& event) {
            return event.value(u"command"_s) == u"force-stop"_s && event.value(u"package"_s) == package;
        });
    }
};

} // namespace

// What the device received since it was last cleared, one event a line (for failure messages).
std::string receivedText(const SimControl& device) {
    std::string text;
    for (const QJsonObject& event : device.received())
        text += QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString() + "\n";
    return text;
}

// One library walks through opening, clicking, a failed install beside a running window, and
// single-app mode: another entry of the same package closes its window without a stop, which would
// kill the app the new window just started; another app's window is closed and stopped once.
TEST_F(OpenAppFlowTest, AnAppOpensOnceTakesClicksAndOtherAppsTakeItsPlace) {
    const MobileApp notes = add(notesApk);
    flow->launch(notes);
    EXPECT_EQ(store->statusMessage(), u"Starting Notes…"_s);
    EXPECT_EQ(store->androidState(), AndroidState::starting);
    flow->launch(notes); // a second quick click: the same boot, the same window
    AndroidWindowSession* session = waitForFrames(notes);
    ASSERT_TRUE(session);
    EXPECT_EQ(registry.sessions().size(), 1);
    EXPECT_EQ(logCount(u"starting emulator"_s), 1);
    EXPECT_EQ(store->androidState(), AndroidState::ready);
    EXPECT_TRUE(waitUntil([&] { return !store->launchingAppID(); }));
    EXPECT_TRUE(store->runningAppIDs().contains(notes.id));
    EXPECT_EQ(session->panel()->windowTitle(), u"Vantle · Notes"_s);
    EXPECT_EQ(logCount(u"native window open package=org.vantle.sim.notes server="_s), 1);

    // A click in the middle of the view reaches the device at the matching pixel.
    device().clearReceived();
    AndroidVideoView* view = session->videoView();
    const auto mapped = view->androidPoint(QPointF(view->width() / 2.0, view->height() / 2.0));
    ASSERT_TRUE(mapped);
    EXPECT_GE(qGray(view->currentFrame().pixel(mapped->first.toPoint())), 48); // no mark there yet
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() / 2, view->height() / 2));
    ASSERT_TRUE(waitUntil([&] {
        for (const QJsonObject& event : device().received())
            if (event.value(u"action"_s).toInt() == 1 && event.contains(u"x"_s)) return true;
        return false;
    }));
    for (const QJsonObject& event : device().received()) {
        if (!event.contains(u"x"_s)) continue;
        EXPECT_NEAR(event.value(u"x"_s).toInt(), mapped->first.x(), 1);
        EXPECT_NEAR(event.value(u"y"_s).toInt(), mapped->first.y(), 1);
        EXPECT_FALSE(event.value(u"ignored"_s).toBool());
    }
    // The app draws a dark mark where it was touched: the next pictures show it at that pixel.
    const QPoint touched = mapped->first.toPoint();
    EXPECT_TRUE(waitUntil(
        [&] {
            const QImage frame = view->currentFrame();
            return frame.size() == mapped->second && qGray(frame.pixel(touched)) < 48;
        },
        5000));

    // VANTLE_SCREENSHOTS=<folder> keeps a picture of the window (scripts/take-screenshots).
    if (const QString shots = qEnvironmentVariable("VANTLE_SCREENSHOTS"); !shots.isEmpty()) {
        QTest::qWait(500); // a few frames with the touch mark
        session->panel()->grab().save(shots + u"/app-window.png"_s);
    }

    // A moved window's place is remembered once it rests.
    session->panel()->move(100, 120);
    EXPECT_TRUE(waitUntil([&] {
        const QVariantMap record =
            VantleSettings::readDictionary(SettingsKeys::window.key(u"org.vantle.sim.notes"_s))
                .value_or(QVariantMap());
        return record.value(u"x"_s).toDouble() == 100 && record.value(u"y"_s).toDouble() == 120;
    }));

    // A notification posted while the window is hidden marks the app unread in the library (the tiles'
    // and menu items' dot); clicking the app again only brings its window forward and clears the mark.
    const auto polled = [session] {
        const int before = session->handledPolls();
        return waitUntil([&] {
            session->pollNotifications();
            return session->handledPolls() >= before + 2;
        });
    };
    ASSERT_TRUE(polled());
    session->hide();
    ASSERT_EQ(device().postNotification(session->package(), 1, u"Anna"_s, u"Lunch?"_s, 0, false), QString());
    ASSERT_TRUE(polled());
    EXPECT_EQ(store->unreadAppIDs(), QSet<QUuid>{notes.id});
    flow->launch(notes);
    EXPECT_EQ(store->statusMessage(), u"Notes is open"_s);
    EXPECT_TRUE(waitUntil([&] { return session->panel()->isVisible(); }));
    EXPECT_TRUE(store->unreadAppIDs().isEmpty());

    // A broken APK fails to install: its entry and the running window stay, and the failure says why.
    QTemporaryDir folder;
    const QString broken = folder.filePath(u"Broken.apk"_s);
    ASSERT_TRUE(writeFile(broken, "not a zip"));
    const int updateChecksBefore = updateChecksAsked; // asked once Notes opened
    EXPECT_GE(updateChecksBefore, 1);
    flow->launch(add(broken));
    ASSERT_TRUE(
        waitUntil([&] { return store->statusMessage().startsWith(u"Android launch failed: "_s); }, 20000));
    EXPECT_EQ(store->apps().size(), 2);
    EXPECT_FALSE(store->launchingAppID());
    EXPECT_EQ(store->androidState(), AndroidState::ready);
    EXPECT_EQ(logCount(u"open failed app=Broken error="_s), 1);
    EXPECT_EQ(updateChecksAsked, updateChecksBefore); // not after the failed open
    ASSERT_EQ(registry.session(notes.id), session);
    EXPECT_TRUE(session->panel()->isVisible());
    EXPECT_EQ(logCount(u"close package=org.vantle.sim.notes"_s), 0);

    // Single-app mode.
    const QString copy = folder.filePath(u"notes-copy.apk"_s);
    ASSERT_TRUE(QFile::copy(notesApk, copy));
    const MobileApp notesCopy = add(copy);
    const MobileApp weather = add(weatherApk);
    ASSERT_NE(notes.id, notesCopy.id);
    device().clearReceived();
    flow->launch(notesCopy);
    ASSERT_TRUE(waitForFrames(notesCopy));
    ASSERT_TRUE(waitUntil([&] { return registry.sessions().size() == 1; }, 10000));
    EXPECT_EQ(logCount(u"close package=org.vantle.sim.notes reason=another app opened"_s), 1);
    EXPECT_TRUE(registry.forceStopOf(u"org.vantle.sim.notes"_s).isFinished());
    EXPECT_EQ(forceStops(u"org.vantle.sim.notes"_s), 0);
    EXPECT_TRUE(device().state().value(u"resumed"_s).toString().startsWith(u"org.vantle.sim.notes/"_s))
        << device().state().value(u"resumed"_s).toString().toStdString() << " after "
        << receivedText(device());

    flow->launch(weather);
    ASSERT_TRUE(waitForFrames(weather));
    EXPECT_TRUE(waitUntil([&] { return registry.sessions().size() == 1; }, 10000));
    EXPECT_EQ(logCount(u"close package=org.vantle.sim.notes reason=another app opened"_s), 2);
    EXPECT_EQ(logCount(u"single-app mode: closed org.vantle.sim.notes"_s), 2);
    // The close is over once its stop has run: any repeat would have been queued by then.
    ASSERT_TRUE(
        waitUntil([&] { return registry.forceStopOf(u"org.vantle.sim.notes"_s).isFinished(); }, 10000));
    EXPECT_EQ(forceStops(u"org.vantle.sim.notes"_s), 1); // stopped once, by its window's close
    EXPECT_FALSE(registry.idleShutdownPending());        // a window is open: Android stays up
}

TEST_F(OpenAppFlowTest,
       WithoutKvmThePanelSaysWhatToDoAWindowClosedWhileConnectingLeavesNothingAndIdleAndroidSleeps) {
    const MobileApp notes = add(notesApk);
    {
        // Without usable KVM: the panel says so while Android starts, and when the emulator quits for
        // want of it, the failure repeats the fix.
        const MissingDevice missing;
        const ScopedEnvironment host("VANTLE_KVM_DEVICE", missing.path);
        const ScopedEnvironment emulator("VANTLE_SIM_KVM_DEVICE", missing.path);
        const QString problem = Virtualisation::problem(Virtualisation::Status::missing);
        flow->launch(notes);
        EXPECT_EQ(store->statusMessage(), problem);
        EXPECT_EQ(store->androidState(), AndroidState::starting);
        ASSERT_TRUE(waitUntil([&] { return store->statusMessage() != problem; }, 20000));
        EXPECT_EQ(store->statusMessage(), u"Android launch failed: "_s + problem);
        EXPECT_TRUE(waitUntil([&] { return store->androidState() == AndroidState::sleeping; }));
        EXPECT_TRUE(registry.sessions().isEmpty());
    }
    flow->launch(notes);
    ASSERT_TRUE(waitUntil([&] { return registry.session(notes.id) != nullptr; }, 20000));
    AndroidWindowSession* session = registry.session(notes.id);
    EXPECT_TRUE(session->videoView()->currentFrame().isNull()); // still connecting
    session->close(u"window close (Cmd+W)"_s);
    EXPECT_FALSE(session->panel()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }, 20000));
    EXPECT_EQ(store->statusMessage(), u"Closed Notes"_s); // closed by the user: no error shown
    EXPECT_TRUE(offers.isEmpty());

    // The app opens again at once, in a new window; closed, Android sleeps once idle.
    VantleSettings::set(SettingsKeys::idleShutdownMinutes, 0.005); // 300 ms
    flow->launch(notes);
    ASSERT_TRUE(waitForFrames(notes));
    EXPECT_EQ(logCount(u"native window open package=org.vantle.sim.notes"_s), 2);
    registry.session(notes.id)->close(u"close button"_s);
    ASSERT_TRUE(waitUntil([&] { return store->androidState() == AndroidState::sleeping; }, 10000));
    EXPECT_EQ(logCount(u"stopping Android runtime (idle 0.005 min)"_s), 1);
    ASSERT_TRUE(waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000));

    VantleSettings::set(SettingsKeys::idleShutdownMinutes, 0.0);
    flow->prewarmAndroid();
    EXPECT_TRUE(flow->isPrewarming());
    flow->prewarmAndroid(); // one warm-up at a time
    ASSERT_TRUE(waitUntil(
        [&] { return store->androidState() == AndroidState::ready && !flow->isPrewarming(); }, 20000));
    EXPECT_EQ(logCount(u"warm-up: starting Android in the background"_s), 1);
    EXPECT_EQ(logCount(u"warm-up: Android ready after "_s), 1);
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
}

TEST_F(OpenAppFlowTest, AMissingApkIsSaidAndLocatedUninstallAsksAndAppsInstalledInsideAndroidComeAndGo) {
    QTemporaryDir folder;
    const QString first = folder.filePath(u"notes-1.apk"_s), second = folder.filePath(u"notes-2.apk"_s);
    ASSERT_TRUE(QFile::copy(notesApk, first));
    const MobileApp moved = add(first);
    ASSERT_TRUE(QFile::remove(first));

    // Never installed: said at once, without starting Android.
    flow->launch(moved);
    const QString missing = u"The APK file of Notes is missing ("_s + first + u')';
    ASSERT_TRUE(waitUntil([&] { return store->statusMessage() == missing; }, 10000))
        << store->statusMessage().toStdString();
    EXPECT_FALSE(store->launchingAppID());
    EXPECT_EQ(logCount(u"starting emulator"_s), 0);
    ASSERT_EQ(offers.size(), 1);
    EXPECT_EQ(offers[0].offer.message, missing);
    EXPECT_EQ(offers[0].offer.actions, (QStringList{u"Locate…"_s, u"Remove from Vantle"_s}));

    // Located: the entry points at the new file, which opens.
    ASSERT_TRUE(QFile::copy(notesApk, second));
    located = second;
    offers[0].choose(0);
    EXPECT_EQ(store->app(moved.id)->sourcePath, second);
    ASSERT_TRUE(waitForFrames(moved));
    ASSERT_TRUE(closeAll());

    // Gone again, but the app is installed in Android: it opens anyway.
    ASSERT_TRUE(QFile::remove(second));
    flow->launch(*store->app(moved.id));
    ASSERT_TRUE(waitForFrames(moved));
    EXPECT_EQ(offers.size(), 1);
    ASSERT_TRUE(closeAll());

    // Uninstalled inside Android as well: removing the entry is offered again and done.
    AndroidRuntimeCLI::adbDevice({u"uninstall"_s, u"org.vantle.sim.notes"_s});
    flow->launch(*store->app(moved.id));
    ASSERT_TRUE(waitUntil([&] { return offers.size() == 2; }, 20000)) << store->statusMessage().toStdString();
    offers[1].choose(1);
    EXPECT_FALSE(store->app(moved.id));

    // Uninstall asks first; an entry never installed only leaves the library.
    const MobileApp notes = add(notesApk);
    confirmAnswer = false;
    flow->confirmUninstall(notes);
    EXPECT_EQ(store->apps().size(), 1);

    confirmAnswer = true;
    flow->confirmUninstall(notes); // never installed: only the entry goes
    EXPECT_TRUE(store->apps().isEmpty());

    const MobileApp again = add(notesApk);
    Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(again.sourcePath));
    flow->confirmUninstall(again);
    EXPECT_EQ(store->statusMessage(), u"Uninstalling Notes…"_s);
    ASSERT_TRUE(waitUntil([&] { return store->apps().isEmpty(); }, 20000))
        << store->statusMessage().toStdString();
    EXPECT_EQ(store->statusMessage(), u"Uninstalled Notes"_s);
    EXPECT_FALSE(AndroidRuntimeCLI::thirdPartyPackages().contains(u"org.vantle.sim.notes"_s));
    EXPECT_FALSE(VantleSettings::readDictionary(SettingsKeys::installed.key(again.sourcePath)));
    EXPECT_TRUE(QFile::exists(notesApk)); // the user's own file stays

    // Installed inside Android: the library finds it; uninstalled there: the entry and its copy go.
    AndroidRuntimeCLI::adbDevice({u"install"_s, weatherApk});
    flow->syncInstalledAndroidApps();
    ASSERT_TRUE(waitUntil([&] { return !flow->isSyncing() && store->apps().size() == 1; }, 20000));
    const MobileApp found = store->apps().first();
    EXPECT_EQ(found.bundleIdentifier, u"org.vantle.sim.weather"_s);
    EXPECT_TRUE(found.sourcePath.startsWith(AndroidRuntimeCLI::packagesDirectory()));
    EXPECT_EQ(store->statusMessage(), u"Added "_s + found.name + u" from Android"_s);
    EXPECT_EQ(VantleSettings::readInteger(SettingsKeys::discoveredAPI.key(u"org.vantle.sim.weather"_s)), 35);

    AndroidRuntimeCLI::adbDevice({u"uninstall"_s, u"org.vantle.sim.weather"_s});
    flow->syncInstalledAndroidApps();
    ASSERT_TRUE(waitUntil([&] { return !flow->isSyncing() && store->apps().isEmpty(); }, 20000));
    EXPECT_FALSE(QFile::exists(found.sourcePath));
    EXPECT_EQ(logCount(u"library: org.vantle.sim.weather was uninstalled in Android"_s), 1);
}

TEST_F(OpenAppFlowTest, SwitchingVersionsRefusesOnesNotOfferedAndTheNextAppRunsOnTheNewOne) {
    for (const int api : {-1, 29, 37, 99999}) {
        flow->switchAndroidVersion(api);
        EXPECT_EQ(store->statusMessage(), u"Vantle does not offer Android API "_s + QString::number(api) +
                                              u" (choose API 30 to 36)"_s);
        EXPECT_EQ(logCount(u"android version: API "_s + QString::number(api) + u" refused (not offered)"_s),
                  1);
    }
    EXPECT_FALSE(VantleSettings::readInteger(SettingsKeys::androidAPI.key())); // nothing stored
    EXPECT_EQ(logCount(u"android version: switching"_s), 0);
    EXPECT_EQ(logCount(u"stopping Android runtime"_s), 0);

    flow->switchAndroidVersion(34);
    EXPECT_EQ(store->androidState(), AndroidState::notSetUp);
    EXPECT_EQ(store->statusMessage(), u"Android 14 needs a one-time download"_s);
    EXPECT_EQ(logCount(u"android version: switching to API 34"_s), 1);
    flow->switchAndroidVersion(35); // downloaded: just switched
    EXPECT_EQ(store->androidState(), AndroidState::sleeping);
    EXPECT_EQ(store->statusMessage(), u"Switched to Android 15"_s);
    flow->deleteAndroidVersion(35); // the selected version is never deleted
    EXPECT_TRUE(AndroidRuntimePaths::current().isComplete());

    ASSERT_EQ(SimulatedAndroidHome::install(34), QString());
    const MobileApp notes = add(notesApk);
    flow->launch(notes);
    ASSERT_TRUE(waitForFrames(notes));
    ASSERT_EQ(AndroidRuntimeCLI::runningAPI(), 35);

    flow->switchAndroidVersion(34); // closes the window and stops Android 15 in the background
    EXPECT_EQ(store->statusMessage(), u"Switched to Android 14"_s);
    flow->launch(notes); // at once, while Android 15 may still be going down
    ASSERT_TRUE(waitForFrames(notes)) << store->statusMessage().toStdString();
    EXPECT_EQ(AndroidRuntimeCLI::runningAPI(), 34);
    // The old window goes once its stream has ended; no second new one.
    EXPECT_TRUE(waitUntil([&] { return registry.sessions().size() == 1; }));
}

// The store mirrors the window's now-playing record; a window whose display server dies takes the
// record with it, as a closed one does, and offers to reopen.
TEST_F(OpenAppFlowTest, AWindowWhoseServerDiesEndsItsRecordOffersToReopenAndAReopenOutlivesTheLateForceStop) {
    const MobileApp notes = add(notesApk);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); // the device exists once it booted
    ASSERT_EQ(device().setMediaSession(u"org.vantle.sim.notes"_s, u"playing"_s, u"Song"_s, u"Singer"_s, {}),
              QString());
    ASSERT_EQ(device().setServerFault(u"dieAfterFrames"_s, 300), QString());
    QList<std::optional<QUuid>> playingApps; // every value the store's nowPlayingAppID took
    QObject observer;
    QObject::connect(store, &AppLibraryStore::nowPlayingAppIDChanged, &observer,
                     [&] { playingApps.append(store->nowPlayingAppID()); });
    flow->launch(notes);
    ASSERT_TRUE(waitUntil([&] { return store->nowPlaying().has_value(); }, 30000));
    EXPECT_EQ(store->nowPlaying(), (AndroidMedia{u"Song"_s, u"Singer"_s, true}));
    EXPECT_EQ(store->nowPlayingAppID(), notes.id);
    ASSERT_TRUE(waitUntil([&] { return !offers.isEmpty(); }, 30000)) << store->statusMessage().toStdString();
    EXPECT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }));
    EXPECT_FALSE(store->nowPlaying());
    EXPECT_EQ(playingApps, (QList<std::optional<QUuid>>{notes.id, std::nullopt}));
    EXPECT_EQ(store->statusMessage(), u"Notes stopped: simulated crash after 300 frames"_s);
    EXPECT_EQ(
        logCount(
            u"native window ended package=org.vantle.sim.notes error=simulated crash after 300 frames"_s),
        1);
    EXPECT_EQ(offers[0].offer.message, u"Notes stopped"_s);
    EXPECT_EQ(offers[0].offer.informative, u"simulated crash after 300 frames"_s);
    EXPECT_EQ(offers[0].offer.actions, QStringList{u"Reopen"_s});

    ASSERT_EQ(device().clearFaults(), QString());
    offers[0].choose(0);
    AndroidWindowSession* first = waitForFrames(notes);
    ASSERT_TRUE(first);

    // Reopened at once after a close: a slow force-stop, long enough for the new window to start its app
    // before the stop lands, were they not ordered.
    ASSERT_EQ(device().setFault(u"slowForceStop"_s, 4000), QString());
    device().clearReceived();
    first->close(u"close button"_s);
    flow->launch(notes); // at once: the old window's force-stop is still on its way
    AndroidWindowSession* second = waitForFrames(notes);
    ASSERT_TRUE(second);
    EXPECT_EQ(logCount(u"native window open package=org.vantle.sim.notes"_s), 3); // crashed, reopened, new
    ASSERT_TRUE(waitUntil([&] { return forceStops(u"org.vantle.sim.notes"_s) == 1; }, 10000));
    // The stop landed before the new window started the app, which keeps running.
    QTest::qWait(500);
    EXPECT_TRUE(device().state().value(u"resumed"_s).toString().startsWith(u"org.vantle.sim.notes/"_s))
        << device().state().value(u"resumed"_s).toString().toStdString();
    EXPECT_TRUE(second->log().tail(500).value_or(QString()).contains(
        u"Vantle: waiting for the previous window's force-stop of org.vantle.sim.notes"_s));
    ASSERT_EQ(device().setFault(u"slowForceStop"_s, QJsonValue()), QString());
}

// "VantleUseExternalWindow": the app opens in the (stand-in) scrcpy client; its end is said as a window's.
TEST_F(OpenAppFlowTest, WithExternalWindowsOnTheAppOpensInAClientWhoseEndIsSaid) {
    const QTemporaryDir bundle;
    ASSERT_TRUE(writeFile(bundle.filePath(u"Resources/AndroidBridge/runtime-manifest.json"_s),
                          R"({"bridgeVersion": "3.1", "components": []})"));
    ASSERT_TRUE(writeFile(bundle.filePath(u"Resources/AndroidBridge/server/scrcpy-server"_s), "jar"));
    const QString client = bundle.filePath(u"Helpers/AndroidBridge/bin/scrcpy"_s);
    ASSERT_TRUE(writeFile(client, readFile(QStringLiteral(VANTLE_STANDIN_CLIENT)), true));
    qputenv("VANTLE_BUNDLE", bundle.path().toUtf8());
    RuntimeComponentLocator::clearCache();
    const ScopedEnvironment record("STANDIN_RECORD", bundle.filePath(u"record"_s));
    const ScopedEnvironment end("STANDIN_END", u"wait"_s);
    VantleSettings::set(SettingsKeys::useExternalWindow, true);
    AndroidSessionRegistry& external = AndroidSessionRegistry::shared();

    const MobileApp notes = add(notesApk);
    flow->launch(notes);
    ASSERT_TRUE(waitUntil([&] { return external.runningSession(notes.id) != nullptr; }, 30000))
        << store->statusMessage().toStdString();
    EXPECT_EQ(store->statusMessage(), u"Opened Notes (bundled bridge)"_s);
    EXPECT_EQ(store->androidState(), AndroidState::ready);
    EXPECT_EQ(store->launchingAppID(), std::nullopt);
    EXPECT_TRUE(registry.sessions().isEmpty()); // no window of Vantle's own
    EXPECT_EQ(logCount(u"bridge spawned app=Notes pid="_s +
                       QString::number(external.runningSession(notes.id)->processID()) + u" sinceOpen="_s),
              1);

    // A second click while it runs starts no second client.
    flow->launch(notes);
    EXPECT_EQ(store->statusMessage(), u"Notes is already open"_s);

    // A client that fails says its error and offers to reopen.
    qputenv("STANDIN_END", "2");
    const ScopedEnvironment output("STANDIN_OUTPUT", u"ERROR: Could not find any ADB device\\n"_s);
    external.endAll();
    flow->launch(notes);
    ASSERT_TRUE(waitUntil([&] { return !offers.isEmpty(); }, 30000)) << store->statusMessage().toStdString();
    EXPECT_EQ(store->statusMessage(), u"Notes stopped: ERROR: Could not find any ADB device"_s);
    EXPECT_EQ(offers[0].offer.informative, u"ERROR: Could not find any ADB device"_s);
    EXPECT_EQ(external.runningSession(notes.id), nullptr);
}
