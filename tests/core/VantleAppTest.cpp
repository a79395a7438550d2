// The application core: launch arguments, commands through the channel, open requests, start-up
// and quit steps, settings of the wrong type, the log, and the users' text for errors.
#include "core/VantleApp.h"

#include "core/SettingsKeys.h"
#include "core/VantleError.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "platform/DetachedProcess.h"
#include "platform/Locations.h"
#include "platform/ProcessLedger.h"
#include "support/LookalikeServer.h"
#include "support/TestSupport.h"

#include <QFuture>
#include <QRegularExpression>
#include <QTest>
#include <QUnhandledException>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

class VantleAppTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    QTemporaryDir files;
    QStringList launched, stopped;
    int closedAll = 0, scheduled = 0, written = 0;
    bool androidWasRunning = false;
    VantleApp::Steps steps;
    VantleAppTest() {
        steps.prepareRunningAndroid = [this] { return QtFuture::makeReadyFuture(androidWasRunning); };
        steps.scheduleIdleShutdown = [this] { ++scheduled; };
        steps.writeSnapshots = [this] { ++written; };
        steps.launch = [this](const MobileApp& app) { launched.append(app.name); };
        steps.closeAllWindows = [this] { ++closedAll; };
        steps.stopAndroid = [this](const QString& reason) { stopped.append(reason); };
    }

    std::unique_ptr<VantleApp> makeApp(const QStringList& arguments = {}) {
        return std::make_unique<VantleApp>(LaunchArguments::parse(QStringList{u"vantle"_s} + arguments),
                                           AppLibraryStore::Seams{}, steps);
    }
    // "/apks/Notes.apk" is <files>/apks/Notes.apk, made on first use.
    QString file(const QString& path) {
        if (!QFile::exists(files.path() + path)) writeFile(files.path() + path, "PK");
        return files.path() + path;
    }
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
    const auto send = [&](const QString& command, const QString& folder = QString()) {
        const int status = vantlectl({u"send"_s, command}, folder).status;
        waitUntil([&] { return !app->store().isAddingFiles(); });
        return status;
    };
    const MainLogSince log;
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
    EXPECT_EQ(log.count(u"command add:"_s + files.filePath(u"apks/Maps.apk"_s)), 1);
    EXPECT_EQ(log.count(u"command no-such-command"_s), 1);

    // A command is logged on one line whatever it contains, so it cannot forge lines of the log.
    const MainLogSince since;
    const QString forged = u"unknown\n2026-12-06T10:00:00.000Z vantle starting pid=1\r\\x\x1b"_s;
    EXPECT_EQ(sendFromAnotherThread(forged), CommandDelivery::delivered);
    EXPECT_EQ(
        since.lines(),
        QStringList{u"command unknown\\n2026-12-06T10:00:00.000Z vantle starting pid=1\\r\\\\x\\x1b"_s});
}

// Open requests launch only known entries, by id; events posted from another thread arrive on the
// main thread; "--open-app" opens the first match half a second after start-up, or logs why not.
TEST_F(VantleAppTest, OpenRequestsAndTheOpenAppArgumentLaunchOnlyKnownEntries) {
    auto app = makeApp();
    app->start();
    for (const QString& path : {u"/apks/Notes-v2.apk"_s, u"/games/Chess.apk"_s, u"/games/Go.apk"_s})
        app->store().addFiles({QUrl::fromLocalFile(file(path))});
    ASSERT_TRUE(waitUntil([&] { return app->store().apps().size() == 3; }));
    for (const QVariantMap& request : std::initializer_list<QVariantMap>{
             {{u"id"_s, QUuid::createUuid().toString()}}, {{u"id"_s, u"garbage"_s}}, {}, {{u"id"_s, 42}}})
        EventCenter::shared().post(VantleEvent::openAppRequest, request);
    EXPECT_TRUE(launched.isEmpty());
    const QString id = app->store().apps().first().id.toString(QUuid::WithoutBraces).toUpper();
    EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, id}});
    EXPECT_EQ(launched, QStringList{u"Notes-v2"_s});
    app->store().setAndroidState(AndroidState::ready);
    std::thread poster([] { EventCenter::shared().post(VantleEvent::runtimeChanged); });
    poster.join();
    EXPECT_EQ(app->store().androidState(), AndroidState::ready); // not yet: queued to the main thread
    EXPECT_TRUE(waitUntil([&] { return app->store().androidState() == AndroidState::sleeping; }));
    app.reset(); // frees the command channel for the next app

    launched.clear();
    app = makeApp({u"--open-app"_s, u"GAMES"_s});
    app->start();
    EXPECT_TRUE(launched.isEmpty()); // half a second later, not at once
    ASSERT_TRUE(waitUntil([&] { return !launched.isEmpty(); }));
    EXPECT_EQ(launched, QStringList{u"Chess"_s});
    app.reset();

    steps.launch = nullptr; // no Android support built in
    const MainLogSince log;
    app = makeApp({u"--open-app"_s, u"Photos"_s});
    app->start();
    ASSERT_TRUE(waitUntil([&] { return log.count(u"open-app: no library entry matches Photos"_s) == 1; }));
    // An app's label comes from its APK: logged, it stays on one line too.
    MobileApp evil = app->store().apps().first();
    evil.name = u"Evil\n2026-12-06T10:00:00.000Z vantle starting pid=1"_s;
    app->store().setApps({evil});
    const MainLogSince since;
    EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, evil.id.toString()}});
    EXPECT_EQ(since.lines(),
              QStringList{u"open unavailable app=Evil\\n2026-12-06T10:00:00.000Z vantle starting "
                          "pid=1 reason=no Android support built in"_s});
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

// Start-up brings an Android that was already up to the standard state and lets it sleep after the
// idle time (one that was down is left alone); snapshot images are written on the command, and one
// second after start-up with "VantleSnapshots" on.
TEST_F(VantleAppTest, StartUpSchedulesARunningAndroidToSleepAndWritesSnapshotsWhenTurnedOn) {
    androidWasRunning = true;
    auto app = makeApp();
    ASSERT_TRUE(app->start());
    EXPECT_EQ(sendFromAnotherThread(u"snapshot-menu"_s), CommandDelivery::delivered);
    EXPECT_EQ(written, 1);
    QTest::qWait(1200);
    EXPECT_EQ(written, 1); // the setting is off
    EXPECT_EQ(scheduled, 1);
    app.reset();
    androidWasRunning = false;
    VantleSettings::set(SettingsKeys::snapshots, true);
    app = makeApp();
    app->start();
    EXPECT_TRUE(waitUntil([&] { return written == 2; }, 10000));
    EXPECT_EQ(scheduled, 1);
}

} // namespace

// Start-up ends the display servers an earlier, killed run of this Vantle left behind, and nothing
// else: not another Vantle's, not the user's own mirroring of a phone.
TEST_F(VantleAppTest, StartUpEndsOnlyItsOwnLeftoverDisplayServers) {
    const qint64 leftover = startLookalikeServer(), foreign = startLookalikeServer();
    ProcessLedger::remember(Locations::serverLedger(), leftover);
    const MainLogSince since;
    steps.endLeftoverDisplayServers = endLeftoverHostDisplayServers;
    makeApp()->start();
    EXPECT_TRUE(waitUntil([&] { return !DetachedProcess::isRunning(leftover); }, 10000));
    EXPECT_TRUE(waitUntil([&] { return since.count(u"ended 1 leftover display servers"_s) == 1; }, 10000));
    EXPECT_TRUE(DetachedProcess::isRunning(foreign));
    ::kill(pid_t(foreign), SIGKILL);
}

namespace {

// Each non-empty line gets the same time stamp; the tail drops the stamps and keeps the last lines
// of this run and the ones before it until truncated; a file that cannot be opened is silent.
TEST(VantleLog, LinesAreStampedAndTailedAcrossOpeningsAndAnUnopenableFileIsSilent) {
    {
        VantleLog log(u"lines.log"_s, VantleLog::Opening::truncate);
        log.write(u"one\n\ntwo words"_s);
        log.write(QString());
        log.write(u"\n"_s);
        const QStringList lines = QString::fromUtf8(readFile(log.path())).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(QStringList({lines[0].mid(25), lines[1].mid(25)}), (QStringList{u"one"_s, u"two words"_s}));
        EXPECT_EQ(lines[0].left(25), lines[1].left(25));
        // "2026-12-06T10:00:00.000Z " in UTC, with milliseconds, and now.
        const QDateTime stamp = QDateTime::fromString(lines[0].left(24), Qt::ISODateWithMs);
        EXPECT_EQ(stamp.toString(Qt::ISODateWithMs) + u' ', lines[0].left(25));
        EXPECT_LT(std::abs(stamp.msecsTo(QDateTime::currentDateTimeUtc())), 60'000);
    }
    {
        VantleLog log(u"lines.log"_s, VantleLog::Opening::append);
        log.write(u"three"_s);
        EXPECT_EQ(log.tail(6), u"one\ntwo words\nthree"_s);
        EXPECT_EQ(log.tail(2), u"two words\nthree"_s);
        EXPECT_EQ(log.tail(0), QString());
    }
    EXPECT_EQ(VantleLog(u"lines.log"_s, VantleLog::Opening::truncate).tail(10), QString());
    QDir().mkpath(Locations::logs() + u"/a-folder.log"_s); // a folder where the file should be
    VantleLog unopenable(u"a-folder.log"_s, VantleLog::Opening::append);
    unopenable.write(u"dropped"_s);
    EXPECT_FALSE(unopenable.tail(5).has_value());
}

TEST(VantleLog, ConcurrentWritersKeepLinesWholeAndInOrderPerThread) {
    VantleLog log(u"threads.log"_s, VantleLog::Opening::truncate);
    constexpr int threads = 8, perThread = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < perThread; ++i)
                log.write(u"writer %1 line %2 %3"_s.arg(t).arg(i).arg(QString(40, u'x')));
        });
    for (auto& writer : writers)
        writer.join();
    const QStringList lines = log.tail(threads * perThread + 10)->split(u'\n');
    ASSERT_EQ(lines.size(), threads * perThread);
    std::vector<int> next(threads, 0);
    static const QRegularExpression whole(u"^writer (\\d) line (\\d+) x{40}$"_s);
    for (const QString& line : lines) {
        const auto match = whole.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        EXPECT_EQ(match.captured(2).toInt(), next[match.captured(1).toInt()]++);
    }
}

class TestError final : public VantleError {
public:
    QString description() const override { return u"Android is not set up"_s; }
    void raise() const override { throw *this; }
    TestError* clone() const override { return new TestError(*this); }
};

TEST(VantleError, DescribeUnwrapsWhatQtConcurrentWrapped) {
    const auto thrown = [](auto error) { return std::make_exception_ptr(std::move(error)); };
    // Unwrapped ones: ErrorText in openapp_tests.
    const std::tuple<const char*, std::exception_ptr, QString> cases[] = {
        {"wrapped by QtConcurrent", thrown(QUnhandledException(thrown(std::runtime_error("disk full")))),
         u"disk full"_s},
        {"wrapped vantle error", thrown(QUnhandledException(thrown(TestError{}))),
         u"Android is not set up"_s},
        {"wrapped non-exception", thrown(QUnhandledException(thrown(42))), u"Unknown error"_s},
    };
    for (const auto& [name, error, text] : cases)
        EXPECT_EQ(VantleError::describe(error), text) << name;
}

} // namespace
