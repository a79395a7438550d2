#include "core/VantleApp.h"

#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "platform/CommandChannel.h"
#include "platform/DetachedProcess.h"
#include "platform/Locations.h"
#include "platform/ProcessLedger.h"
#include "support/LookalikeServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class VantleAppTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    QStringList launched;
    QStringList stopped;
    int closedAll = 0;

    std::unique_ptr<VantleApp> makeApp(const QStringList& arguments = {}) {
        VantleApp::Steps steps;
        steps.launch = [this](const MobileApp& app) { launched.append(app.name); };
        steps.closeAllWindows = [this] { ++closedAll; };
        steps.stopAndroid = [this](const QString& reason) { stopped.append(reason); };
        auto app = std::make_unique<VantleApp>(LaunchArguments::parse(QStringList{u"vantle"_s} + arguments),
                                               AppLibraryStore::Seams{}, steps);
        return app;
    }

    // The files the tests add, below a folder of their own: "/apks/Notes.apk" becomes
    // <folder>/apks/Notes.apk, made on first use.
    QTemporaryDir files;
    QString file(const QString& path) {
        const QString real = files.path() + path;
        QDir().mkpath(QFileInfo(real).absolutePath());
        QFile out(real);
        if (!out.exists() && out.open(QIODevice::WriteOnly)) out.write("PK");
        return real;
    }
    void addEntries(VantleApp& app, const QStringList& paths) {
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls.append(QUrl::fromLocalFile(file(path)));
        app.store().addFiles(urls);
        EXPECT_TRUE(waitUntil([&] { return !app.store().isAddingFiles(); }));
    }

    static QString mainLogTail() { return VantleLog::main().tail(50).value_or(QString()); }
};

TEST(LaunchArguments, ParsesTheThreeOptions) {
    const auto parsed =
        LaunchArguments::parse({u"vantle"_s, u"-platform"_s, u"offscreen"_s, u"--open-app"_s, u"Notes"_s,
                                u"--android-player"_s, u"--launch-apk"_s, u"/a/b.apk"_s});
    EXPECT_EQ(parsed.openApp, u"Notes"_s);
    EXPECT_EQ(parsed.launchApk, u"/a/b.apk"_s);
    EXPECT_TRUE(parsed.androidPlayer);

    const auto dangling = LaunchArguments::parse({u"vantle"_s, u"--open-app"_s});
    EXPECT_FALSE(dangling.openApp);
    EXPECT_FALSE(dangling.androidPlayer);
}

TEST_F(VantleAppTest, CommandsReachTheStoreThroughTheChannel) {
    auto app = makeApp();
    ASSERT_TRUE(app->start());
    const QString vantlectl = QCoreApplication::applicationDirPath() + u"/../../app/vantlectl"_s;
    const auto send = [&](const QString& command, const QString& folder = QString()) {
        QProcess process;
        process.setWorkingDirectory(folder);
        process.start(vantlectl, {u"send"_s, command});
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
        waitUntil([&] { return !app->store().isAddingFiles(); });
        return process.exitCode();
    };

    EXPECT_EQ(send(u"add:"_s + file(u"/apks/Chat Beta.apk"_s)), 0);
    // A relative path means the sender's folder: vantlectl completes it before sending.
    file(u"/apks/Maps.apk"_s);
    EXPECT_EQ(send(u"add:Maps.apk"_s, files.filePath(u"apks"_s)), 0);
    ASSERT_EQ(app->store().apps().size(), 2);
    EXPECT_EQ(app->store().statusMessage(), u"Added Maps.apk"_s);
    EXPECT_EQ(app->store().apps().last().sourcePath,
              QFileInfo(file(u"/apks/Maps.apk"_s)).canonicalFilePath());

    EXPECT_EQ(send(u"hide-apps:beta,,x"_s), 0);
    EXPECT_EQ(app->store().hiddenForShots(), (QStringList{u"beta"_s, u"x"_s}));
    EXPECT_EQ(app->store().filteredApps().size(), 1);

    EXPECT_EQ(send(u"theme:glass"_s), 0);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::theme), u"glass"_s);

    EXPECT_EQ(send(u"open:maps"_s), 0);
    EXPECT_EQ(launched, QStringList{u"Maps"_s});

    EXPECT_EQ(send(u"no-such-command"_s), 0); // delivered, logged, ignored
    const QString log = mainLogTail();
    EXPECT_TRUE(log.contains(u"command add:"_s + files.filePath(u"apks/Maps.apk"_s)));
    EXPECT_TRUE(log.contains(u"command no-such-command"_s));

    // A command is logged on one line whatever it contains, so it cannot forge lines of the log.
    MainLogSince since;
    const QString forged = u"unknown\n2026-12-06T10:00:00.000Z vantle starting pid=1\r\\x\x1b"_s;
    EXPECT_EQ(sendFromAnotherThread(forged), CommandDelivery::delivered);
    EXPECT_EQ(
        since.lines(),
        QStringList{u"command unknown\\n2026-12-06T10:00:00.000Z vantle starting pid=1\\r\\\\x\\x1b"_s});
    EXPECT_EQ(since.count(u"vantle starting"_s), 0);
}

TEST_F(VantleAppTest, OpenRequestsLaunchOnlyKnownEntries) {
    auto app = makeApp();
    app->start();
    addEntries(*app, {u"/apks/Notes.apk"_s});
    const QString id = app->store().apps().first().id.toString(QUuid::WithoutBraces).toUpper();

    EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, QUuid::createUuid().toString()}});
    EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, u"garbage"_s}});
    EventCenter::shared().post(VantleEvent::openAppRequest, {});
    EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, 42}});
    EXPECT_TRUE(launched.isEmpty());

    EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, id}});
    EXPECT_EQ(launched, QStringList{u"Notes"_s});

    // Events posted from another thread arrive on the main thread.
    app->store().setAndroidState(AndroidState::ready);
    std::thread poster([] { EventCenter::shared().post(VantleEvent::runtimeChanged); });
    poster.join();
    EXPECT_EQ(app->store().androidState(), AndroidState::ready); // not yet: queued to the main thread
    EXPECT_TRUE(waitUntil([&] { return app->store().androidState() == AndroidState::sleeping; }));
}

TEST_F(VantleAppTest, OpenAppArgumentOpensTheFirstMatchAfterStartUp) {
    {
        auto first = makeApp();
        addEntries(*first, {u"/apks/Notes-v2.apk"_s, u"/games/Chess.apk"_s, u"/games/Go.apk"_s});
    }
    auto app = makeApp({u"--open-app"_s, u"GAMES"_s});
    app->start();
    EXPECT_TRUE(launched.isEmpty()); // half a second later, not at once
    ASSERT_TRUE(waitUntil([&] { return !launched.isEmpty(); }));
    EXPECT_EQ(launched, QStringList{u"Chess"_s});

    auto unmatched =
        std::make_unique<VantleApp>(LaunchArguments::parse({u"vantle"_s, u"--open-app"_s, u"Photos"_s}),
                                    AppLibraryStore::Seams{}, VantleApp::Steps{});
    app.reset(); // frees the command channel for the second app
    unmatched->start();
    ASSERT_TRUE(
        waitUntil([] { return mainLogTail().contains(u"open-app: no library entry matches Photos"_s); }));

    // An app's label comes from its APK: logged, it stays on one line too.
    MobileApp evil = unmatched->store().apps().first();
    evil.name = u"Evil\n2026-12-06T10:00:00.000Z vantle starting pid=1"_s;
    unmatched->store().setApps({evil});
    MainLogSince since;
    EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, evil.id.toString()}});
    EXPECT_EQ(since.lines(),
              QStringList{u"open unavailable app=Evil\\n2026-12-06T10:00:00.000Z vantle starting pid=1 "
                          "reason=no Android support built in"_s});
}

TEST_F(VantleAppTest, QuittingClosesWindowsAndStopsAndroidUnlessTurnedOff) {
    auto app = makeApp();
    app->quit();
    EXPECT_EQ(closedAll, 1);
    EXPECT_EQ(stopped, QStringList{u"Vantle quit"_s});

    VantleSettings::set(SettingsKeys::stopAndroidOnQuit, false);
    app->quit();
    EXPECT_EQ(stopped.size(), 1);

    VantleSettings::set(SettingsKeys::stopAndroidOnQuit, u"no"_s); // not a boolean: the default holds
    app->quit();
    EXPECT_EQ(stopped.size(), 2);

    // A setting of the wrong type reads as absent.
    VantleSettings::set(SettingsKeys::idleShutdownMinutes, qint64(9)); // an integer is not a double
    EXPECT_DOUBLE_EQ(VantleSettings::get(SettingsKeys::idleShutdownMinutes), 5.0);
    VantleSettings::set(SettingsKeys::androidAPI, 34.0);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::androidAPI), 35);
    EXPECT_FALSE(VantleSettings::flag(u"absent"_s, false));
    EXPECT_TRUE(VantleSettings::flag(u"absent"_s, true));
}

} // namespace

// Start-up ends the display servers an earlier, killed run of this Vantle left behind, and nothing
// else: not another Vantle's, not the user's own mirroring of a phone.
TEST_F(VantleAppTest, StartUpEndsOnlyItsOwnLeftoverDisplayServers) {
    const qint64 leftover = startLookalikeServer();
    const qint64 foreign = startLookalikeServer();
    ProcessLedger::remember(Locations::serverLedger(), leftover);

    MainLogSince since;
    VantleApp::Steps steps;
    steps.endLeftoverDisplayServers = endLeftoverHostDisplayServers;
    VantleApp app(LaunchArguments{}, AppLibraryStore::Seams{}, steps);
    app.start();
    EXPECT_TRUE(waitUntil([&] { return !DetachedProcess::isRunning(leftover); }, 10000));
    EXPECT_TRUE(waitUntil([&] { return since.count(u"ended 1 leftover display servers"_s) == 1; }, 10000));
    EXPECT_TRUE(DetachedProcess::isRunning(foreign));
    ::kill(pid_t(foreign), SIGKILL);
}

// Start-up brings an Android that was already up to the standard state (a step of the runtime) and
// then lets it sleep after the idle time; an Android that was down is left alone.
TEST_F(VantleAppTest, AnAndroidFoundRunningAtStartUpIsScheduledToSleep) {
    for (const bool wasRunning : {true, false}) {
        int scheduled = 0;
        VantleApp::Steps steps;
        steps.prepareRunningAndroid = [wasRunning] { return QtFuture::makeReadyFuture(wasRunning); };
        steps.scheduleIdleShutdown = [&scheduled] { ++scheduled; };
        VantleApp app(LaunchArguments{}, AppLibraryStore::Seams{}, steps);
        app.start();
        QTest::qWait(50);
        EXPECT_EQ(scheduled, wasRunning ? 1 : 0) << wasRunning;
    }
}

// Snapshot images on request, and one second after start-up with "VantleSnapshots" on.
TEST_F(VantleAppTest, SnapshotsAreWrittenOnTheCommandAndAfterStartUpWhenTurnedOn) {
    int written = 0;
    VantleApp::Steps steps;
    steps.writeSnapshots = [&written] { ++written; };
    {
        VantleApp app(LaunchArguments{}, AppLibraryStore::Seams{}, steps);
        ASSERT_TRUE(app.start());
        EXPECT_EQ(sendFromAnotherThread(u"snapshot-menu"_s), CommandDelivery::delivered);
        EXPECT_EQ(written, 1);
        QTest::qWait(1200);
        EXPECT_EQ(written, 1); // the setting is off
    }
    VantleSettings::set(SettingsKeys::snapshots, true);
    VantleApp app(LaunchArguments{}, AppLibraryStore::Seams{}, steps);
    app.start();
    EXPECT_TRUE(waitUntil([&] { return written == 2; }, 10000));
}
