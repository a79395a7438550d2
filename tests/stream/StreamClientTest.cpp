// The client's streaming phase on socket pairs: what ends a session, what the readers do with the
// bytes, and that every descriptor and thread is let go.
#include "StreamClientFixture.h"
#include "stream/AndroidStreamClient.h"
#include "stream/PCMAudioPlayer.h"
#include "stream/SocketIO.h"
#include "support/TestSupport.h"

#include <QThread>
#include <QtConcurrent>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

class StreamClientTest : public StreamClientFixture {};

TEST_F(StreamClientTest, AStreamThatClosesBeforeTheCodecEndsWithAnError) {
    serve();
    sendVideo(QByteArray(64, 'n') + "h2");
    video.closeRemote();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, (QList<std::optional<QString>>{u"Video stream closed early"_s}));
    closeRemotes();
    EXPECT_TRUE(released());
    EXPECT_TRUE(clientSocketsClosed()) << openDescriptors().join(u'\n').toStdString();
}

TEST_F(StreamClientTest, AnotherVideoCodecEndsWithItsId) {
    serve();
    sendVideo(videoStart(0x68323635)); // "h265"
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings.value(0), u"Unsupported video codec 0x68323635"_s);
    closeRemotes();
    EXPECT_TRUE(released());
}

TEST_F(StreamClientTest, StartAppIsTheFirstControlMessageAndSessionPacketsSetTheSize) {
    serve(false);
    QByteArray expected = QByteArray("\x10\x12+org.example.notes", 20);
    EXPECT_EQ(readExactly(control.remote, expected.size()), expected);

    sendVideo(videoStart() + packetHeader(0x8000000000000438ull, 0x828));
    ASSERT_TRUE(waitUntil([this] { return !sizes.isEmpty(); }));
    EXPECT_EQ(sizes, QList<QSize>{QSize(1080, 2088)});
    EXPECT_EQ(client->videoSize(), QSize(1080, 2088));
    EXPECT_EQ(countLines(*log, u"Vantle: video session 1080x2088"_s), 1);

    // A media packet before any parameter sets is dropped; a zero size ends the stream, which
    // nobody asked for.
    sendVideo(packetHeader(0x2000000000000000ull, 5) + QByteArray("\x00\x00\x01\x65\x88", 5));
    sendVideo(packetHeader(0, 0));
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, (QList<std::optional<QString>>{u"The app's display stopped unexpectedly"_s}));
    EXPECT_EQ(renderer->count(), 0u);
    EXPECT_EQ(firstFrames, 0);
    // The end shut the control socket down: the device sees it at once.
    char byte;
    EXPECT_EQ(::read(control.remote, &byte, 1), 0);
    closeRemotes();
    EXPECT_TRUE(released());
    EXPECT_TRUE(clientSocketsClosed()) << openDescriptors().join(u'\n').toStdString();
}

TEST_F(StreamClientTest, AClientStoppedBeforeItStartsEndsAtOnceWithoutConnecting) {
    client->stop(); // its window closed while it waited to start
    client->start();
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings, (QList<std::optional<QString>>{std::nullopt})); // no connect error either
    EXPECT_EQ(client->timeline().started, AndroidStreamClient::Timeline::Time());
    closeRemotes();
    EXPECT_TRUE(released());
}

TEST_F(StreamClientTest, AnOversizedVideoPacketEndsTheStreamWithoutReadingIt) {
    serve(false);
    sendVideo(videoStart() + packetHeader(0, 0x2000000));
    ASSERT_TRUE(ended());
    EXPECT_EQ(endings.value(0), u"The app's display stopped unexpectedly"_s);
    closeRemotes();
    EXPECT_TRUE(released());
}

TEST_F(StreamClientTest, AudioPacketsReachThePlayerAndAudioNeverEndsTheSession) {
    serve();
    sendVideo(videoStart());
    ASSERT_TRUE(writeAll(sound.remote, be32(0x00726177)));
    ASSERT_TRUE(waitUntil([this] { return client->audioPlayer() != nullptr; }));
    const auto player = client->audioPlayer();
    QByteArray tone(3840, '\x10');
    tone[0] = char(0x00); // sample -32768 at offset 0: the loudest there is
    tone[1] = char(0x80);
    ASSERT_TRUE(
        writeAll(sound.remote, packetHeader(0x4000000000000000ull, 4) + "conf")); // configuration: skipped
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writeAll(sound.remote, packetHeader(i, uint32_t(tone.size())) + tone));
    ASSERT_TRUE(waitUntil([&] { return player->counters().scheduledPackets == 3; }));
    EXPECT_TRUE(player->counters().playing);
    EXPECT_EQ(countLines(*log, u"Vantle: audio forwarding on (48 kHz stereo PCM)"_s), 1);

    // A bad size ends audio quietly: the player stops, video goes on.
    ASSERT_TRUE(writeAll(sound.remote, packetHeader(3, 0x100000)));
    ASSERT_TRUE(waitUntil([&] { return player->counters().stopped; }));
    EXPECT_TRUE(endings.isEmpty());

    client->stop();
    ASSERT_TRUE(ended()); // the woken video reader ends the session
    EXPECT_EQ(endings, (QList<std::optional<QString>>{std::nullopt}));
    closeRemotes();
    EXPECT_TRUE(released());
    EXPECT_TRUE(clientSocketsClosed()) << openDescriptors().join(u'\n').toStdString();
}

TEST_F(StreamClientTest, EachLevelWindowLogsItsLoudestSampledValue) {
    serve();
    sendVideo(videoStart());
    ASSERT_TRUE(writeAll(sound.remote, be32(0x00726177)));
    // Every 64th byte is sampled (a left sample every 16 frames): the 30000s in between never count.
    auto packet = [](int16_t first) {
        QByteArray pcm(3840, Qt::Uninitialized);
        for (qsizetype offset = 0; offset < pcm.size(); offset += 2)
            qToLittleEndian<int16_t>(offset % 64 == 0 ? 257 : 30000, pcm.data() + offset);
        qToLittleEndian<int16_t>(first, pcm.data());
        return packetHeader(0, uint32_t(pcm.size())) + pcm;
    };
    ASSERT_TRUE(writeAll(sound.remote, packet(-32768)));
    const QString peak = u"Vantle: audio peak "_s;
    // Lines are written when a packet arrives after a window of three seconds: keep them coming.
    const bool twoLines = waitUntil(
        [&] {
            writeAll(sound.remote, packet(257));
            QThread::msleep(50);
            return countLines(*log, peak) >= 2;
        },
        15000);
    ASSERT_TRUE(twoLines);
    QStringList lines = logLines(*log).filter(peak);
    EXPECT_EQ(lines.mid(0, 2), (QStringList{peak + u"32768"_s, peak + u"257"_s}));
    client->stop();
    ASSERT_TRUE(ended());
    closeRemotes();
    EXPECT_TRUE(released());
}

TEST_F(StreamClientTest, AnotherAudioCodecIsLoggedAndVideoGoesOn) {
    serve();
    ASSERT_TRUE(writeAll(sound.remote, be32(0x6f707573))); // "opus"
    ASSERT_TRUE(waitUntil([this] {
        return countLines(*log, u"Vantle: audio forwarding unavailable (codec 0x6f707573)"_s) == 1;
    }));
    EXPECT_EQ(client->audioPlayer(), nullptr);
    sendVideo(videoStart() + packetHeader(0x8000000000000002ull, 4));
    ASSERT_TRUE(waitUntil([this] { return !sizes.isEmpty(); }));
    EXPECT_TRUE(endings.isEmpty());
    client->stop();
    ASSERT_TRUE(ended());
    closeRemotes();
    EXPECT_TRUE(released());
}

TEST_F(StreamClientTest, SocketsOfAStoppedClientAreShutAtOnceAndNoReaderStarts) {
    client->stop();
    serve();
    // The device sees the end of every socket, and no start-app message ever went out.
    char byte;
    EXPECT_EQ(::read(video.remote, &byte, 1), 0);
    EXPECT_EQ(::read(control.remote, &byte, 1), 0);
    EXPECT_EQ(::read(sound.remote, &byte, 1), 0);
    EXPECT_TRUE(released());
    EXPECT_TRUE(endings.isEmpty()); // nothing ran that would end the session
    closeRemotes();
    EXPECT_TRUE(clientSocketsClosed()) << openDescriptors().join(u'\n').toStdString();
}

TEST_F(StreamClientTest, StopAndFinishRacingFromManyThreadsEndTheSessionOnce) {
    serve();
    sendVideo(videoStart());
    ASSERT_TRUE(writeAll(sound.remote, be32(0x00726177)));
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
    QCoreApplication::processEvents();
    EXPECT_EQ(endings.size(), 1);
    // Every socket was shut down (the device sees the end), each exactly once: the counts match
    // after the client is gone.
    char byte;
    EXPECT_EQ(::read(video.remote, &byte, 1), 0);
    closeRemotes();
    EXPECT_TRUE(released());
    EXPECT_TRUE(clientSocketsClosed()) << openDescriptors().join(u'\n').toStdString();
}

TEST_F(StreamClientTest, ControlMessagesAreWrittenWholeAndInOrder) {
    serve(false);
    const QByteArray startApp = QByteArray("\x10\x12+org.example.notes", 20);
    EXPECT_EQ(readExactly(control.remote, startApp.size()), startApp);
    QByteArray expected;
    // Many senders on the GUI thread, big messages: the queue keeps each whole and in order.
    for (int i = 0; i < 50; ++i) {
        const QByteArray message =
            QByteArray(1, char(1)) + be32(70000) + QByteArray(70000, char('a' + i % 26));
        client->send(message);
        expected += message;
    }
    EXPECT_EQ(readExactly(control.remote, expected.size()), expected);
    EXPECT_EQ(client->nextClipboardSequence(), 2u);
    EXPECT_EQ(client->nextClipboardSequence(), 3u);
    client->stop();
    ASSERT_TRUE(ended());
    closeRemotes();
    EXPECT_TRUE(released());
}

} // namespace
