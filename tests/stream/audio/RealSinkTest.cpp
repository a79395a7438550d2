// The audio player through Qt Multimedia on a PulseAudio null sink of the test's own, its monitor
// recorded and held against the jitter buffer's rules (latency: bench/stream's audio_latency_bench).
#include "SoundFixture.h"
#include "stream/PCMAudioPlayer.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QtEndian>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = PulseAudioServer::Clock;

// One player through a device-paced stream, a run dry, a lone packet and a burst twice as fast.
TEST(RealSinkTest, WhatIsHeardFollowsTheJitterBuffersRules) {
    PulseAudioServer* server = PulseAudioServer::shared();
    if (!server && PulseAudioServer::unavailable())
        GTEST_SKIP() << PulseAudioServer::startError().toStdString();
    ASSERT_NE(server, nullptr) << PulseAudioServer::startError().toStdString();
    const qint64 from = server->recordedFrames();
    // Qt Multimedia plays on PulseAudio, and its default output is this test's null sink.
    EXPECT_EQ(QMediaDevices::defaultAudioOutput().description(),
              QLatin1String(PulseAudioServer::sinkDescription));
    PCMAudioPlayer player;
    std::vector<Arrival> arrivals; // when each packet arrived, and whether it was taken
    ToneSource tone;
    const auto feed = [&](int count, std::chrono::microseconds interval) {
        auto next = Clock::now();
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(next);
            next += interval;
            const int droppedBefore = player.counters().droppedPackets;
            const auto at = Clock::now();
            player.play(tone.next());
            arrivals.push_back(
                {at, ToneSource::packetFrames, player.counters().droppedPackets == droppedBefore});
        }
    };
    feed(2, 20ms);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(server->recordedUntil(Clock::now()));
    EXPECT_TRUE(soundSpans(server->left(from, server->recordedFrames()), from).empty())
        << "40 ms were heard before 60 ms were queued";
    feed(150, 20ms); // three seconds at the device's pace
    EXPECT_EQ(player.counters().droppedPackets, 0);
    std::this_thread::sleep_for(300ms); // the queue runs dry
    feed(1, 20ms);
    std::this_thread::sleep_for(200ms); // 20 ms queued: still silent
    feed(12, 20ms);
    feed(200, 10ms); // twice the device's pace for two seconds
    EXPECT_GT(player.counters().droppedPackets, 50);
    // What the monitor heard until everything that arrived had time to play. A gap is allowed only
    // where nothing was waiting: the lone packet was not heard on its own.
    const auto end = arrivals.back().at + 500ms;
    ASSERT_TRUE(server->recordedUntil(end));
    const SoundReport report =
        checkAgainstRules(*server, from, server->left(from, server->frameAt(end)), arrivals);
    EXPECT_TRUE(report.violations.empty()) << report.describe();
    ASSERT_GE(report.spans.size(), 2u) << report.describe();
    // The tone itself was heard, sample for sample: the sink runs at the tone's rate and full volume.
    const QByteArray sent = ToneSource().next();
    const qint64 start = report.spans.front().start;
    const std::vector<qint16> first = server->left(start, start + ToneSource::packetFrames);
    for (int i = 0; i < ToneSource::packetFrames; ++i)
        ASSERT_NEAR(first.at(size_t(i)), qFromLittleEndian<qint16>(sent.constData() + 4 * i), 1) << i;
}

} // namespace
