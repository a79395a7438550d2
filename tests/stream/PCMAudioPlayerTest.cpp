// The jitter buffer of the audio player, on an output double that plays only when told to.
#include "stream/PCMAudioPlayer.h"

#include "StreamTestSupport.h"
#include "support/DeviceFiles.h"

#include <gtest/gtest.h>

namespace {

// `frames` stereo frames whose left and right samples are `left` and `right`.
QByteArray pcm(int frames, int16_t left = 1000, int16_t right = -1000) {
    QByteArray frame(4, Qt::Uninitialized);
    qToLittleEndian(left, frame.data());
    qToLittleEndian(right, frame.data() + 2);
    return frame.repeated(frames);
}

class PCMAudioPlayerTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeAudioOutput::Shared> output = std::make_shared<FakeAudioOutput::Shared>();
    PCMAudioPlayer player{std::make_unique<FakeAudioOutput>(output)};
};

// When playback starts, pauses and resumes is held against the rules on a real sink in audio_tests.
TEST_F(PCMAudioPlayerTest, ConvertsWholeFramesRetriesAFailedEngineDropsOverAFullQueueAndStopsForGood) {
    output->engineAvailable = false;
    player.play(pcm(2, -32768, 16384) + QByteArray("\x01\x02", 2)); // 2 frames + 2 stray bytes
    EXPECT_EQ(output->lastBuffer, (std::vector<float>{-1.0f, 0.5f, -1.0f, 0.5f}));
    player.play(pcm(960));
    EXPECT_EQ(output->engineStarts, 2);
    EXPECT_FALSE(player.counters().engineStarted);
    EXPECT_EQ(player.counters().scheduledPackets, 2); // still scheduled
    output->engineAvailable = true;
    player.play(pcm(960));
    player.play(QByteArray("\x01\x02\x03", 3)); // less than a frame: nothing at all
    player.play(pcm(960));
    EXPECT_EQ(output->engineStarts, 3); // started once, then left alone
    EXPECT_TRUE(player.counters().engineStarted);
    EXPECT_EQ(player.counters().scheduledPackets, 4);
    output->finish(4);

    for (int i = 0; i < 13; ++i)
        player.play(pcm(1000)); // the 13th is accepted: 12000 queued is not above the threshold
    EXPECT_EQ(player.counters().pendingFrames, 13000);
    player.play(pcm(1000)); // dropped
    EXPECT_EQ(player.counters().droppedPackets, 1);
    EXPECT_EQ(player.counters().pendingFrames, 13000);
    output->finish(2); // 11000 queued
    player.play(pcm(1000));
    EXPECT_EQ(player.counters().pendingFrames, 12000);
    EXPECT_EQ(player.counters().droppedPackets, 1);

    player.stop();
    player.stop();
    EXPECT_EQ(output->stops, 1);
    player.play(pcm(3000));
    EXPECT_EQ(player.counters().scheduledPackets, 4 + 13 + 1);
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
