// The jitter buffer of the audio player, on an output double that plays only when told to.
#include "stream/PCMAudioPlayer.h"

#include "StreamTestSupport.h"
#include "support/DeviceFiles.h"

#include <gtest/gtest.h>

namespace {

// `frames` stereo frames whose left and right samples are `left` and `right`.
QByteArray pcm(int frames, int16_t left = 1000, int16_t right = -1000) {
    QByteArray out;
    for (int i = 0; i < frames; ++i) {
        char sample[4];
        qToLittleEndian(left, sample);
        qToLittleEndian(right, sample + 2);
        out.append(sample, 4);
    }
    return out;
}

class PCMAudioPlayerTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeAudioOutput::Shared> output = std::make_shared<FakeAudioOutput::Shared>();
    PCMAudioPlayer player{std::make_unique<FakeAudioOutput>(output)};
};

TEST_F(PCMAudioPlayerTest, PlaybackStartsOnceSixtyMillisecondsAreQueued) {
    const QByteArray packet = pcm(960); // 20 ms
    player.play(packet);
    player.play(packet);
    EXPECT_EQ(player.counters().pendingFrames, 1920);
    EXPECT_FALSE(player.counters().playing);
    EXPECT_EQ(output->plays, 0);
    player.play(packet); // 2880 frames: the threshold
    EXPECT_TRUE(player.counters().playing);
    EXPECT_EQ(output->plays, 1);
    player.play(packet);
    EXPECT_EQ(output->plays, 1); // already playing
}

TEST_F(PCMAudioPlayerTest, SamplesConvertToFloatAndPartialFramesAreIgnored) {
    player.play(pcm(2, -32768, 16384) + QByteArray("\x01\x02", 2)); // 2 frames + 2 stray bytes
    EXPECT_EQ(player.counters().pendingFrames, 2);
    ASSERT_EQ(output->lastBuffer.size(), 4u);
    EXPECT_EQ(output->lastBuffer[0], -1.0f);
    EXPECT_EQ(output->lastBuffer[1], 0.5f);
    player.play(QByteArray("\x01\x02\x03", 3)); // less than a frame: nothing at all
    EXPECT_EQ(player.counters().scheduledPackets, 1);
}

TEST_F(PCMAudioPlayerTest, ARunDryQueuePausesAndRebuffers) {
    for (int i = 0; i < 3; ++i)
        player.play(pcm(960));
    output->finish(3); // everything played: the queue ran dry
    EXPECT_EQ(player.counters().pendingFrames, 0);
    EXPECT_FALSE(player.counters().playing);
    EXPECT_TRUE(player.counters().nodeRunning);

    player.play(pcm(960)); // the first packet after running dry pauses the node
    EXPECT_EQ(output->pauses, 1);
    EXPECT_FALSE(player.counters().nodeRunning);
    player.play(pcm(960));
    EXPECT_EQ(output->plays, 1);
    player.play(pcm(960)); // 60 ms again
    EXPECT_EQ(output->plays, 2);
    EXPECT_EQ(output->pauses, 1);
}

TEST_F(PCMAudioPlayerTest, PacketsAreDroppedWhileMoreThanTheDropThresholdIsQueued) {
    for (int i = 0; i < 12; ++i)
        player.play(pcm(1000)); // 12000 frames: not above the threshold
    player.play(pcm(1000));     // accepted: 13000 queued
    EXPECT_EQ(player.counters().pendingFrames, 13000);
    player.play(pcm(1000)); // dropped
    EXPECT_EQ(player.counters().droppedPackets, 1);
    EXPECT_EQ(player.counters().pendingFrames, 13000);
    output->finish(2); // 11000 queued
    player.play(pcm(1000));
    EXPECT_EQ(player.counters().pendingFrames, 12000);
    EXPECT_EQ(player.counters().droppedPackets, 1);
}

TEST_F(PCMAudioPlayerTest, AFailedEngineStartIsRetriedOnTheNextPacketAndNeverStopsPlayback) {
    output->engineAvailable = false;
    player.play(pcm(960));
    player.play(pcm(960));
    EXPECT_EQ(output->engineStarts, 2);
    EXPECT_FALSE(player.counters().engineStarted);
    EXPECT_EQ(player.counters().scheduledPackets, 2); // still scheduled
    output->engineAvailable = true;
    player.play(pcm(960));
    player.play(pcm(960));
    EXPECT_EQ(output->engineStarts, 3); // started once, then left alone
    EXPECT_TRUE(player.counters().engineStarted);
}

TEST_F(PCMAudioPlayerTest, StopIsIdempotentAndFinal) {
    player.play(pcm(960));
    player.stop();
    player.stop();
    EXPECT_EQ(output->stops, 1);
    player.play(pcm(3000));
    EXPECT_EQ(player.counters().scheduledPackets, 1);
    EXPECT_TRUE(player.counters().stopped);
}

TEST(QtAudioOutputTest, APlayerOnTheDefaultOutputSurvivesAMachineWithoutSoundDevice) {
    // No sound server to reach (Qt Multimedia connects once per process, and no other test of this
    // program plays sound): the player takes packets, and stop ends it cleanly. The real server's
    // case is in audio_tests.
    const ScopedEnvironment noServer("PULSE_SERVER",
                                     QStringLiteral("unix:/nonexistent/vantle-no-sound-server"));
    PCMAudioPlayer player;
    for (int i = 0; i < 5; ++i)
        player.play(pcm(960));
    EXPECT_EQ(player.counters().scheduledPackets, 5);
    EXPECT_FALSE(player.counters().engineStarted);
    player.stop();
    EXPECT_TRUE(player.counters().stopped);
}

} // namespace
