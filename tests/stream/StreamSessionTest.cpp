// Whole sessions against the simulated device: its adb, its display server, real sockets and real
// H.264. One emulator serves the whole suite.
#include "StreamTestSupport.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "platform/Locations.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimControl.h"
#include "sim/SimInstaller.h"
#include "stream/AndroidStreamClient.h"
#include "stream/FrameRenderer.h"
#include "stream/ScrcpyControl.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonObject>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}
#include <thread>

using namespace Qt::StringLiterals;

namespace {

const QString serverJar = QStringLiteral(VANTLE_BRIDGE_SERVER);

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

    void create(QString jar = serverJar, int bitRate = 8'000'000,
                std::shared_ptr<VideoRenderer> renderer = nullptr) {
        makeClient({AndroidRuntimePaths::managed(35).adb(), u"emulator-5556"_s, jar, package,
                    QSizeF(780, 1448.9), 320, bitRate},
                   std::move(renderer));
    }
    bool firstFrame() {
        return waitUntil([this] { return firstFrames > 0 || !endings.isEmpty(); }, 30000) && firstFrames == 1;
    }
    bool ended() { return ClientUnderTest::ended(30000); }
    bool released() { return ClientUnderTest::released(30000); }
    // The control messages the device received with this type (see the display server's log).
    QList<QJsonObject> received(int type) const {
        QList<QJsonObject> found;
        for (const QJsonObject& event : device.received())
            if (event.value(u"type"_s) == u"control"_s && event.value(u"message"_s).toInt(-1) == type)
                found.append(event);
        return found;
    }
    bool receivedWhere(int type, const std::function<bool(const QJsonObject&)>& matches) {
        return waitUntil(
            [&] {
                const auto events = received(type);
                return std::any_of(events.cbegin(), events.cend(), matches);
            },
            10000);
    }
};

TEST_F(StreamSessionTest, AFullSessionShowsTheAppAndEndsCleanly) {
    const int descriptorsBefore = openDescriptorCount();
    create();
    const QStringList arguments = client->serverArguments();
    client->start();
    ASSERT_TRUE(firstFrame()) << logLines(*log).join(u'\n').toStdString();
    // 780 x 1448.9 asks for a 776 x 1448 display; the session packet reports it.
    EXPECT_TRUE(arguments.contains(u"new_display=776x1448/320"_s));
    EXPECT_EQ(sizes.value(0), QSize(776, 1448));
    EXPECT_EQ(client->videoSize(), QSize(776, 1448));
    EXPECT_GE(renderer->count(), 1u);
    // From "(id=N)" in the server's output, which adb relays on a path of its own: it may come
    // after the first frame.
    EXPECT_TRUE(waitUntil([&] { return client->displayID().has_value(); }));
    EXPECT_EQ(countLines(*log, u"Vantle: sockets connected after "_s), 1);
    EXPECT_EQ(countLines(*log, u"Vantle: video session 776x1448"_s), 1);
    EXPECT_EQ(countLines(*log, u"Vantle: first frame after "_s), 1);
    EXPECT_TRUE(
        receivedWhere(16, [](const QJsonObject& e) { return e.value(u"name"_s) == u"+"_s + package; }));

    // Audio is on by default: the device's 440 Hz tone reaches the player and starts playback.
    ASSERT_TRUE(waitUntil(
        [this] { return client->audioPlayer() && client->audioPlayer()->counters().playing; }, 10000));
    EXPECT_EQ(countLines(*log, u"Vantle: audio forwarding on (48 kHz stereo PCM)"_s), 1);

    client->stop();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, (QList<std::optional<QString>>{std::nullopt}));
    ASSERT_TRUE(released());
    // The server process was ended by the stop; its exit is logged once the watcher saw it.
    ASSERT_TRUE(
        waitUntil([this] { return countLines(*log, u"Vantle: android server exited status="_s) == 1; }));
    // Other threads of the test program open descriptors for a moment now and then: wait for the count.
    EXPECT_TRUE(waitUntil([&] { return openDescriptorCount() == descriptorsBefore; }))
        << openDescriptors().join(u'\n').toStdString();
}

TEST_F(StreamSessionTest, InputClipboardResizeAndResetVideoReachTheDevice) {
    create();
    auto recorder = std::make_shared<CountingRecorder>();
    client->setRecorder(recorder);
    client->start();
    ASSERT_TRUE(firstFrame());
    const QSize size = client->videoSize();

    client->send(ScrcpyControl::touch(ScrcpyControl::TouchAction::down, {100.6, 200.4}, size));
    client->send(ScrcpyControl::touch(ScrcpyControl::TouchAction::up, {100.6, 200.4}, size));
    client->send(ScrcpyControl::key(ScrcpyControl::KeyAction::down, 29, 12288));
    client->send(ScrcpyControl::text(u"h\u00e9llo"_s));
    client->send(ScrcpyControl::scroll({10, 20}, size, 0, 0.0625f));
    EXPECT_TRUE(receivedWhere(2, [&](const QJsonObject& e) {
        return e.value(u"action"_s) == 0 && e.value(u"x"_s) == 101 && e.value(u"y"_s) == 200 &&
               e.value(u"screenWidth"_s) == size.width() && !e.contains(u"ignored"_s);
    }));
    EXPECT_TRUE(receivedWhere(
        2, [](const QJsonObject& e) { return e.value(u"action"_s) == 1 && e.value(u"pressure"_s) == 0; }));
    EXPECT_TRUE(receivedWhere(
        0, [](const QJsonObject& e) { return e.value(u"keycode"_s) == 29 && e.value(u"meta"_s) == 12288; }));
    EXPECT_TRUE(receivedWhere(1, [](const QJsonObject& e) { return e.value(u"text"_s) == u"h\u00e9llo"_s; }));
    EXPECT_TRUE(receivedWhere(3, [](const QJsonObject& e) { return e.value(u"vscroll"_s) == 2048; }));

    // Desktop to Android: sequence numbers start at 2.
    client->send(ScrcpyControl::setClipboard(u"from the desktop"_s, true, client->nextClipboardSequence()));
    EXPECT_TRUE(receivedWhere(9, [](const QJsonObject& e) {
        return e.value(u"text"_s) == u"from the desktop"_s && e.value(u"sequence"_s) == 2 &&
               e.value(u"paste"_s).toBool();
    }));
    // Android to desktop: a copy on the device arrives through clipboard auto-sync.
    ASSERT_TRUE(device.setClipboard(u"copied on Android"_s).isEmpty());
    EXPECT_TRUE(
        waitUntil([] { return QGuiApplication::clipboard()->text() == u"copied on Android"_s; }, 10000));
    EXPECT_EQ(countLines(*log, u"Vantle: Android clipboard copied to Mac (17 chars)"_s), 1);

    // Reset video makes the server send a key frame soon.
    const int keyFramesBefore = recorder->keyFrames;
    client->send(ScrcpyControl::resetVideo());
    EXPECT_TRUE(waitUntil([&] { return recorder->keyFrames > keyFramesBefore; }, 10000));

    // A resize changes the virtual display; the stream announces the new size.
    client->send(ScrcpyControl::resizeDisplay(640, 960));
    EXPECT_TRUE(waitUntil([this] { return sizes.contains(QSize(640, 960)); }, 10000));
    EXPECT_EQ(client->videoSize(), QSize(640, 960));
    EXPECT_GT(recorder->audioPackets, 0);
}

TEST_F(StreamSessionTest, TheDecoderFollowsTheDisplayThroughAResize) {
    auto decoder = std::make_shared<FrameRenderer>();
    create(serverJar, 8'000'000, decoder);
    client->start();
    ASSERT_TRUE(firstFrame());
    auto newestSize = [&decoder](QSize& size) {
        if (const VideoFrame frame = decoder->takeFrame()) size = QSize(frame->width, frame->height);
        return size;
    };
    QSize decoded;
    ASSERT_TRUE(waitUntil([&] { return newestSize(decoded) == QSize(776, 1448); }, 10000));
    client->send(ScrcpyControl::resizeDisplay(640, 960));
    ASSERT_TRUE(waitUntil([&] { return newestSize(decoded) == QSize(640, 960); }, 10000));
    EXPECT_EQ(decoder->counts().errors, 0u);
    EXPECT_EQ(decoder->status(), VideoRenderer::Status::rendering);
}

TEST_F(StreamSessionTest, ASnapshotComesFromTheNextKeyFrame) {
    create();
    client->start();
    ASSERT_TRUE(firstFrame());
    client->requestSnapshot();
    ASSERT_TRUE(waitUntil([this] { return !snapshots.isEmpty(); }, 15000));
    ASSERT_TRUE(snapshots[0]->image.has_value());
    EXPECT_EQ(snapshots[0]->image->size(), client->videoSize());
    // One request, one still image.
    QTest::qWait(500);
    EXPECT_EQ(snapshots.size(), 1);
}

TEST_F(StreamSessionTest, WithAudioOffOnlyVideoAndControlConnect) {
    VantleSettings::set(SettingsKeys::forwardAudio, false);
    create();
    EXPECT_TRUE(client->serverArguments().contains(u"audio=false"_s));
    client->start();
    ASSERT_TRUE(firstFrame());
    client->send(ScrcpyControl::key(ScrcpyControl::KeyAction::down, 66, 0));
    EXPECT_TRUE(receivedWhere(0, [](const QJsonObject& e) { return e.value(u"keycode"_s) == 66; }));
    EXPECT_EQ(client->audioPlayer(), nullptr);
    EXPECT_EQ(countLines(*log, u"Vantle: audio forwarding"_s), 0);
}

TEST_F(StreamSessionTest, AServerThatDiesMidStreamEndsTheSessionOnceWithItsLastErrorLine) {
    ASSERT_TRUE(device.setServerFault(u"dieAfterFrames"_s, 5).isEmpty());
    create();
    client->start();
    ASSERT_TRUE(ended());
    // Once the client is gone with its threads nothing more can report: deliver what is queued.
    ASSERT_TRUE(released());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(endings, (QList<std::optional<QString>>{u"simulated crash after 5 frames"_s}));
    // The exit is logged by the server's watcher, which reports after the waiters woke.
    EXPECT_TRUE(
        waitUntil([this] { return countLines(*log, u"Vantle: android server exited status="_s) > 0; }, 5000));
    EXPECT_EQ(countLines(*log, u"Vantle: android server exited status="_s), 1);
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
    create(serverJar, 0); // the server refuses a bit rate of 0 and exits without connecting
    client->start();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, (QList<std::optional<QString>>{u"Exception on thread Thread[main,5,main]"_s}));
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
    EXPECT_EQ(endings, (QList<std::optional<QString>>{std::nullopt}));
    EXPECT_EQ(countLines(*log, u"Vantle: sockets connected"_s), 0);
    EXPECT_EQ(firstFrames, 0);
    EXPECT_TRUE(received(16).isEmpty()); // no start-app message went out
}

} // namespace
