// The client's streaming phase on socket pairs; the fixture checks every descriptor is let go.
#include "StreamTestSupport.h"

#include <QThread>

namespace {

using StreamClientTest = StreamClientFixture;
using Endings = QList<std::optional<QString>>;

struct BrokenVideo {
    const char* what;
    QByteArray bytes; // then the device closes the socket
    QString ending;
};
void PrintTo(const BrokenVideo& video, std::ostream* out) {
    *out << video.what;
}

class BrokenVideoTest : public StreamClientFixture, public ::testing::WithParamInterface<BrokenVideo> {};

TEST_P(BrokenVideoTest, EndsTheSessionWithItsReason) {
    serve();
    sendVideo(GetParam().bytes);
    video.closeRemote();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, Endings{GetParam().ending});
}

const QString unexpected = AndroidStreamClient::unexpectedEndText;
INSTANTIATE_TEST_SUITE_P(
    Streams, BrokenVideoTest,
    ::testing::Values(BrokenVideo{"nothing", {}, u"Video stream closed early"_s},
                      BrokenVideo{"half a codec", QByteArray(64, 'n') + "h2", u"Video stream closed early"_s},
                      BrokenVideo{"h265", videoStart(0x68323635), u"Unsupported video codec 0x68323635"_s},
                      BrokenVideo{"oversized packet", videoStart() + packetHeader(0, 0x2000000), unexpected},
                      BrokenVideo{"half a packet", videoStart() + packetHeader(0, 9) + "abc", unexpected}));

TEST_F(StreamClientTest, StartAppControlOrderSessionSizeAndAnotherAudioCodec) {
    serve();
    EXPECT_EQ(readControl(20), startApp());
    // Another audio codec is logged, and video goes on.
    ASSERT_TRUE(writeAll(sound.remote, be32(0x6f707573))); // "opus"
    ASSERT_TRUE(waitUntil([this] {
        return countLines(*log, u"Vantle: audio forwarding unavailable (codec 0x6f707573)"_s) == 1;
    }));
    EXPECT_EQ(client->audioPlayer(), nullptr);
    // Many senders on the GUI thread, big messages: the queue keeps each whole and in order.
    QByteArray expected;
    for (int i = 0; i < 50; ++i) {
        const QByteArray message =
            QByteArray(1, char(1)) + be32(70000) + QByteArray(70000, char('a' + i % 26));
        client->send(message);
        expected += message;
    }
    EXPECT_EQ(readControl(expected.size()), expected);

    sendVideo(videoStart() + sessionPacket(1080, 2088));
    ASSERT_TRUE(waitUntil([this] { return !sizes.isEmpty(); }));
    EXPECT_EQ(sizes, QList<QSize>{QSize(1080, 2088)});
    EXPECT_EQ(client->videoSize(), QSize(1080, 2088));
    EXPECT_EQ(countLines(*log, u"Vantle: video session 1080x2088"_s), 1);
    // A media packet before any parameter sets is dropped; a zero size ends the stream, which
    // nobody asked for.
    sendVideo(mediaPacket(QByteArray("\x00\x00\x01\x65\x88", 5), keyFlag) + packetHeader(0, 0));
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, Endings{unexpected});
    EXPECT_EQ(renderer->count(), 0u);
    EXPECT_EQ(firstFrames, 0);
    // The end shut the control socket down: the device sees it at once.
    char byte;
    EXPECT_EQ(::read(control.remote, &byte, 1), 0);
}

TEST_F(StreamClientTest, AStoppedClientEndsAtOnceWithoutConnectingAndShutsTheSocketsItIsGiven) {
    client->stop(); // its window closed while it waited to start
    client->start();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, Endings{std::nullopt}); // no connect error either
    EXPECT_EQ(client->timeline().started, AndroidStreamClient::Timeline::Time());
    serve();
    // The device sees the end of every socket, and no start-app message ever went out.
    char byte;
    for (const SocketPair* pair : {&video, &control, &sound})
        EXPECT_EQ(::read(pair->remote, &byte, 1), 0);
    EXPECT_TRUE(released());
    EXPECT_EQ(endings.size(), 1); // no reader ran that would end the session again
}

TEST_F(StreamClientTest, AudioReachesThePlayerIsLevelCheckedAndNeverEndsTheSession) {
    serve();
    sendVideo(videoStart());
    ASSERT_TRUE(writeAll(sound.remote, be32(rawAudio)));
    // The reader hands the player over before it logs: wait for the line.
    ASSERT_TRUE(waitUntil(
        [this] { return countLines(*log, u"Vantle: audio forwarding on (48 kHz stereo PCM)"_s) == 1; }));
    const auto player = client->audioPlayer();
    ASSERT_TRUE(player);
    // Every 64th byte is sampled for the level (a left sample every 16 frames): the 30000s in
    // between never count.
    auto packet = [](int16_t first) {
        QByteArray pcm(3840, Qt::Uninitialized);
        for (qsizetype offset = 0; offset < pcm.size(); offset += 2)
            qToLittleEndian<int16_t>(offset == 0        ? first
                                     : offset % 64 == 0 ? 257
                                                        : 30000,
                                     pcm.data() + offset);
        return mediaPacket(pcm);
    };
    ASSERT_TRUE(writeAll(sound.remote, mediaPacket("conf", configFlag))); // configuration: skipped
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writeAll(sound.remote, packet(-32768)));
    ASSERT_TRUE(waitUntil([&] { return player->counters().scheduledPackets == 3; }));
    EXPECT_TRUE(player->counters().playing);
    {
        std::lock_guard guard(audio->lock);
        EXPECT_EQ(audio->lastBuffer.at(0), -1.0f); // the payload, not the header
    }

    // A level line is written when a packet arrives after a window of three seconds.
    const QString peak = u"Vantle: audio peak "_s;
    ASSERT_TRUE(waitUntil(
        [&] {
            writeAll(sound.remote, packet(257));
            QThread::msleep(50);
            return countLines(*log, peak) >= 2;
        },
        15000));
    EXPECT_EQ(logLines(*log).filter(peak).mid(0, 2), (QStringList{peak + u"32768"_s, peak + u"257"_s}));

    // A bad size ends audio quietly: the player stops, video goes on.
    ASSERT_TRUE(writeAll(sound.remote, packetHeader(3, 0x100000)));
    ASSERT_TRUE(waitUntil([&] { return player->counters().stopped; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(endings.isEmpty());
    client->stop();
    ASSERT_TRUE(ended()); // the woken video reader ends the session
    EXPECT_EQ(endings, Endings{std::nullopt});
}

TEST_F(StreamClientTest, StopAndFinishRacingFromManyThreadsEndTheSessionOnce) {
    serve();
    sendVideo(videoStart());
    ASSERT_TRUE(writeAll(sound.remote, be32(rawAudio)));
    ASSERT_TRUE(waitUntil([this] { return client->audioPlayer() != nullptr; }));
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([client = client, i] {
            if (i % 2)
                client->stop();
            else
                client->finish(u"racer %1"_s.arg(i));
            client->send(QByteArray("\x11", 1)); // dropped: the control socket is gone
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(ended());
    // Every socket was shut down (the device sees the end); the fixture checks each is closed once
    // the client is gone, and that the session ended once.
    char byte;
    EXPECT_EQ(::read(video.remote, &byte, 1), 0);
}

} // namespace
