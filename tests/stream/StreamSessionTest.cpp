// Whole sessions against the simulated device (one emulator for the suite): adb, server, real H.264.
#include "StreamTestSupport.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "platform/Locations.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/ApkInstaller.h"
#include "sim/SimControl.h"
#include "stream/FrameRenderer.h"
#include "stream/ScrcpyControl.h"
#include "stream/StreamRecorder.h"
#include "support/SimulatedAndroid.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <future>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

using Endings = QList<std::optional<QString>>;

class StreamSessionTest : public ::testing::Test, protected ClientUnderTest {
protected:
    static inline SimulatedAndroidHome* android = nullptr;
    static inline QString package;

    static void SetUpTestSuite() {
        ScopedSettings settings;
        android = new SimulatedAndroidHome;
        package = Coroutines::waitFor(
            AndroidRuntimeCLI::installAndLaunch(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk")));
    }
    static void TearDownTestSuite() { delete android; }

    SimControl device{Locations::runtime(), 35};

    void SetUp() override {
        device.clearFaults();
        device.clearReceived();
    }
    void TearDown() override {
        if (client) {
            client->stop();
            ended();
        }
        released();
    }

    void create(QString jar = QStringLiteral(VANTLE_BRIDGE_SERVER), int bitRate = 8'000'000,
                std::shared_ptr<VideoSink> renderer = nullptr) {
        makeClient({AndroidRuntimePaths::managed(35).adb(), u"emulator-5556"_s, jar, package,
                    QSizeF(780, 1448.9), 320, bitRate},
                   std::move(renderer));
    }
    // Whether the device received a control message of this type that matches (see the display
    // server's log).
    bool receivedWhere(int type, const std::function<bool(const QJsonObject&)>& matches,
                       int timeoutMs = 10000) {
        return waitUntil(
            [&] {
                const auto events = device.received();
                return std::any_of(events.cbegin(), events.cend(), [&](const QJsonObject& e) {
                    return e.value(u"type"_s) == u"control"_s && e.value(u"message"_s).toInt(-1) == type &&
                           matches(e);
                });
            },
            timeoutMs);
    }
    qsizetype serverExits() const { return countLines(*log, u"Vantle: android server exited status="_s); }
};

TEST_F(StreamSessionTest, AFullSessionShowsTheAppTakesInputFollowsAResizeAndEndsCleanly) {
    const QStringList descriptorsBefore = openDescriptors();
    auto decoder = std::make_shared<FrameRenderer>();
    create(QStringLiteral(VANTLE_BRIDGE_SERVER), 8'000'000, decoder);
    client->start();
    ASSERT_TRUE(waitUntil([this] { return firstFrames > 0 || !endings.isEmpty(); }, 30000) &&
                firstFrames == 1)
        << logLines(*log).join(u'\n').toStdString();
    // 780 x 1448.9 asks for a 776 x 1448 display; the session packet reports it.
    const QSize size(776, 1448);
    EXPECT_EQ(sizes.value(0), size);
    // From "(id=N)" in the server's output, which adb relays on a path of its own: it may come
    // after the first frame.
    EXPECT_TRUE(waitUntil([&] { return client->displayID().has_value(); }));
    EXPECT_EQ(countLines(*log, u"Vantle: sockets connected after "_s), 1);
    EXPECT_EQ(countLines(*log, u"Vantle: first frame after "_s), 1);
    EXPECT_TRUE(
        receivedWhere(16, [](const QJsonObject& e) { return e.value(u"name"_s) == u"+"_s + package; }));
    // Audio is on by default: the device's 440 Hz tone reaches the player and starts playback.
    ASSERT_TRUE(
        waitUntil([this] { return client->audioPlayer() && client->audioPlayer()->counters().playing; }));

    client->send(ScrcpyControl::touch(ScrcpyControl::TouchAction::down, {100.6, 200.4}, size));
    client->send(ScrcpyControl::key(ScrcpyControl::KeyAction::down, 29, 12288));
    client->send(ScrcpyControl::text(u"h\u00e9llo"_s));
    client->send(ScrcpyControl::scroll({10, 20}, size, 0, 0.0625f));
    EXPECT_TRUE(receivedWhere(2, [&](const QJsonObject& e) {
        return e.value(u"action"_s) == 0 && e.value(u"x"_s) == 101 && e.value(u"y"_s) == 200 &&
               e.value(u"screenWidth"_s) == size.width() && !e.contains(u"ignored"_s);
    }));
    EXPECT_TRUE(receivedWhere(
        0, [](const QJsonObject& e) { return e.value(u"keycode"_s) == 29 && e.value(u"meta"_s) == 12288; }));
    EXPECT_TRUE(receivedWhere(1, [](const QJsonObject& e) { return e.value(u"text"_s) == u"h\u00e9llo"_s; }));
    EXPECT_TRUE(receivedWhere(3, [](const QJsonObject& e) { return e.value(u"vscroll"_s) == 2048; }));
    // Desktop to Android: sequence numbers start at 2; Android to desktop: through clipboard auto-sync.
    client->send(ScrcpyControl::setClipboard(u"from the desktop"_s, true, client->nextClipboardSequence()));
    EXPECT_TRUE(receivedWhere(9, [](const QJsonObject& e) {
        return e.value(u"text"_s) == u"from the desktop"_s && e.value(u"sequence"_s) == 2 &&
               e.value(u"paste"_s).toBool();
    }));
    ASSERT_TRUE(device.setClipboard(u"copied on Android"_s).isEmpty());
    EXPECT_TRUE(
        waitUntil([] { return QGuiApplication::clipboard()->text() == u"copied on Android"_s; }, 10000));
    EXPECT_EQ(countLines(*log, u"Vantle: Android clipboard copied to Mac (17 chars)"_s), 1);

    // A recording keeps sound and picture together for 30 seconds, and plays cleanly from its start.
    QTemporaryDir folder;
    const auto started = std::chrono::steady_clock::now();
    client->startRecording(std::make_shared<StreamRecorder>(folder.filePath(u"long.mp4"_s)));
    QTest::qWait(30000);
    std::promise<std::shared_ptr<StreamRecorder>> stopped;
    client->stopRecordingWithFinalFrame(
        [&](std::shared_ptr<StreamRecorder> taken) { stopped.set_value(taken); });
    const std::shared_ptr<StreamRecorder> recorder = stopped.get_future().get();
    ASSERT_NE(recorder, nullptr);
    const std::optional<QString> file = recorder->finish();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(file.has_value());
    const Probe recording = probe(*file);
    const double videoEnd = recording.seconds(u"video"_s, u"start_time"_s) +
                            recording.seconds(u"video"_s, u"duration"_s),
                 audioEnd = recording.seconds(u"audio"_s, u"start_time"_s) +
                            recording.seconds(u"audio"_s, u"duration"_s);
#ifndef VANTLE_SANITIZED // there the instrumented readers lag by more than the allowed drift
    EXPECT_NEAR(recording.seconds(u"video"_s, u"duration"_s), wall, 0.05 * wall);
    EXPECT_NEAR(recording.seconds(u"audio"_s, u"duration"_s), wall, 0.05 * wall);
    EXPECT_NEAR(videoEnd, audioEnd, 0.050);
#endif
    std::printf("recording: %.3f s of wall clock, video %.3f s, audio %.3f s, ends %.1f ms apart\n", wall,
                recording.seconds(u"video"_s, u"duration"_s), recording.seconds(u"audio"_s, u"duration"_s),
                (videoEnd - audioEnd) * 1000);
    EXPECT_GT(recording.packetsOf(u"video"_s).size(), 60);
    EXPECT_TRUE(recording.keyFrames().value(0));
    EXPECT_EQ(decodeErrors(*file).toStdString(), "");

    // The decoder follows the display through a resize, which the stream announces.
    auto decodedSize = [&decoder, decoded = QSize()]() mutable {
        if (const VideoFrame frame = decoder->takeFrame()) decoded = QSize(frame->width, frame->height);
        return decoded;
    };
    ASSERT_TRUE(waitUntil([&] { return decodedSize() == size; }, 10000));
    client->send(ScrcpyControl::resizeDisplay(640, 960));
    ASSERT_TRUE(waitUntil([&] { return decodedSize() == QSize(640, 960); }, 10000));
    EXPECT_EQ(client->videoSize(), QSize(640, 960));
    EXPECT_TRUE(sizes.contains(QSize(640, 960)));
    EXPECT_EQ(decoder->counts().errors, 0u);

    client->stop();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, Endings{std::nullopt});
    ASSERT_TRUE(released());
    // The server process was ended by the stop; its exit is logged once the watcher saw it.
    ASSERT_TRUE(waitUntil([this] { return serverExits() == 1; }));
    // Nothing the session opened is left open (other threads of the test program open descriptors for
    // a moment now and then, and some close theirs meanwhile; the listing's own has no target).
    const auto leftOpen = [&] {
        QStringList opened = openDescriptors();
        opened.removeIf([&](const QString& d) { return descriptorsBefore.contains(d) || d.endsWith(u' '); });
        return opened;
    };
    EXPECT_TRUE(waitUntil([&] { return leftOpen().isEmpty(); })) << leftOpen().join(u'\n').toStdString();
}

// With audio off only video and control connect; the server dies after five frames.
TEST_F(StreamSessionTest, AServerThatDiesMidStreamEndsTheSessionOnceWithItsLastErrorLine) {
    VantleSettings::set(SettingsKeys::forwardAudio, false);
    ASSERT_TRUE(device.setServerFault(u"dieAfterFrames"_s, 5).isEmpty());
    create();
    EXPECT_TRUE(client->serverArguments().contains(u"audio=false"_s));
    client->start();
    ASSERT_TRUE(ended());
    EXPECT_EQ(client->audioPlayer(), nullptr);
    // Once the client is gone with its threads nothing more can report: deliver what is queued.
    ASSERT_TRUE(released());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(endings, Endings{u"simulated crash after 5 frames"_s});
    EXPECT_EQ(firstFrames, 1);
    EXPECT_EQ(countLines(*log, u"Vantle: audio forwarding"_s), 0);
    // The exit is logged by the server's watcher, which reports after the waiters woke.
    EXPECT_TRUE(waitUntil([this] { return serverExits() > 0; }));
    EXPECT_EQ(serverExits(), 1);
}

TEST_F(StreamSessionTest, AFailedPushEndsTheSessionWithTheConnectError) {
    create(u"/nonexistent/scrcpy-server"_s);
    client->start();
    ASSERT_TRUE(ended());
    ASSERT_TRUE(endings.value(0).has_value());
    EXPECT_TRUE(endings[0]->startsWith(u"Could not connect to Android: failed(\"push server: "_s))
        << endings[0]->toStdString();
    EXPECT_EQ(countLines(*log, u"Vantle: stream start failed: failed(\"push server: "_s), 1);
}

TEST_F(StreamSessionTest, AServerThatExitsBeforeConnectingEndsTheSessionOnceAndTheTimeOutOnlyLogs) {
    create(QStringLiteral(VANTLE_BRIDGE_SERVER), 0); // the server refuses a bit rate of 0 and exits
    client->start();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, Endings{u"Exception on thread Thread[main,5,main]"_s});
    EXPECT_EQ(countLines(*log, u"Vantle: android server exited status=1"_s), 1);
    // The server's own output is in the log as it printed it.
    EXPECT_TRUE(logLines(*log).join(u'\n').contains(u"Invalid value for video_bit_rate: \"0\""_s));
    // connect still waits for the video socket; its time-out changes nothing but the log.
    const QString timedOut =
        u"Vantle: stream start failed: failed(\"timed out waiting for the Android side to connect\")"_s;
    ASSERT_TRUE(waitUntil([&] { return countLines(*log, timedOut) == 1; }, 30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(endings.size(), 1);
}

TEST_F(StreamSessionTest, AStopDuringConnectStartsNoReader) {
    create();
    client->start();
    client->stop();
    // The terminated server's exit still ends the session once, as asked: without an error.
    ASSERT_TRUE(ended());
    QTest::qWait(300);
    EXPECT_EQ(endings, Endings{std::nullopt});
    EXPECT_EQ(countLines(*log, u"Vantle: sockets connected"_s), 0);
    EXPECT_EQ(firstFrames, 0);
    EXPECT_FALSE(receivedWhere(
        16, [](const QJsonObject&) { return true; }, 0)); // no start-app message
}

} // namespace
