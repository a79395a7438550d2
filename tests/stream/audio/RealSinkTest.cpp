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

class RealSinkTest : public ::testing::Test {
protected:
    PulseAudioServer* server = PulseAudioServer::shared();
    qint64 from = 0;
    std::vector<Arrival> arrivals;
    ToneSource tone;

    void SetUp() override {
        if (!server && PulseAudioServer::unavailable())
            GTEST_SKIP() << PulseAudioServer::startError().toStdString();
        ASSERT_NE(server, nullptr) << PulseAudioServer::startError().toStdString();
        from = server->recordedFrames();
    }
    // `count` packets, one every `interval`, noting when each arrived and whether it was taken.
    void feed(PCMAudioPlayer& player, int count, std::chrono::microseconds interval) {
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
    }
    // What the monitor recorded since the test started.
    std::vector<qint16> heardSoFar() {
        EXPECT_TRUE(server->recordedUntil(Clock::now()));
        return server->left(from, server->recordedFrames());
    }
    // What the monitor heard until everything that arrived had time to play, checked against the rules.
    SoundReport heard() {
        EXPECT_TRUE(server->recordedUntil(arrivals.back().at + 500ms));
        SoundReport report = checkAgainstRules(
            *server, from, server->left(from, server->frameAt(arrivals.back().at + 500ms)), arrivals);
        EXPECT_TRUE(report.violations.empty()) << report.describe();
        return report;
    }
};

// One player through a device-paced stream, a run dry, a lone packet and a burst twice as fast.
TEST_F(RealSinkTest, WhatIsHeardFollowsTheJitterBuffersRules) {
    // Qt Multimedia plays on PulseAudio, and its default output is this test's null sink.
    EXPECT_EQ(QMediaDevices::defaultAudioOutput().description(),
              QLatin1String(PulseAudioServer::sinkDescription));
    PCMAudioPlayer player;
    feed(player, 2, 20ms);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(soundSpans(heardSoFar(), from).empty()) << "40 ms were heard before 60 ms were queued";
    feed(player, 150, 20ms); // three seconds at the device's pace
    EXPECT_EQ(player.counters().droppedPackets, 0);
    std::this_thread::sleep_for(300ms); // the queue runs dry
    feed(player, 1, 20ms);
    std::this_thread::sleep_for(200ms); // 20 ms queued: still silent
    feed(player, 12, 20ms);
    feed(player, 200, 10ms); // twice the device's pace for two seconds
    EXPECT_GT(player.counters().droppedPackets, 50);
    // A gap is allowed only where nothing was waiting: the lone packet was not heard on its own.
    const SoundReport report = heard();
    ASSERT_GE(report.spans.size(), 2u) << report.describe();
    // The tone itself was heard, sample for sample: the sink runs at the tone's rate and full volume.
    const QByteArray sent = ToneSource().next();
    const qint64 start = report.spans.front().start;
    const std::vector<qint16> first = server->left(start, start + ToneSource::packetFrames);
    for (int i = 0; i < ToneSource::packetFrames; ++i)
        ASSERT_NEAR(first.at(size_t(i)), qFromLittleEndian<qint16>(sent.constData() + 4 * i), 1) << i;
}

} // namespace
