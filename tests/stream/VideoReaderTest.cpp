// The video reader on real H.264 through a socket pair: formats, drops, recovery, recordings, stills.
#include "StreamTestSupport.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "video/VideoFixture.h"

#include <QRegularExpression>
#include <QThread>

namespace {

class VideoReaderTest : public StreamClientFixture {
protected:
    // Keys at 0, 4 and 8.
    EncodedClip clip = encodeClip(64, 48, 12, 4);

    QByteArray frame(size_t index) const {
        return mediaPacket(clip.frames.at(index).data, clip.frames.at(index).key ? keyFlag : 0);
    }
    QByteArray start() const { return videoStart() + mediaPacket(clip.parameterSets, configFlag); }
    // A session packet is a barrier: once its size arrived, everything sent before it was read.
    void barrier(int width) {
        const qsizetype before = sizes.size();
        sendVideo(sessionPacket(width, 48));
        ASSERT_TRUE(waitUntil([&] { return sizes.size() > before; }));
        QCoreApplication::processEvents();
    }
};

TEST_F(VideoReaderTest, FramesNeedUsableParameterSetsAreQueuedInOrderAndAFailedRendererIsFlushedFirst) {
    ASSERT_TRUE(clip.frames[0].key && clip.frames[4].key && clip.frames[8].key && !clip.frames[1].key);
    serve(false);
    sendVideo(videoStart() + frame(0)); // no parameter sets yet: dropped
    barrier(64);
    EXPECT_EQ(renderer->count(), 0u);
    sendVideo(mediaPacket(clip.parameterSets + clip.frames[0].data, keyFlag)); // in-band SPS and PPS
    barrier(65);
    EXPECT_EQ(renderer->count(), 1u);
    EXPECT_EQ(firstFrames, 1);
    EXPECT_EQ(renderer->flushes, 0);

    renderer->failed = true;
    sendVideo(frame(1));
    barrier(66);
    EXPECT_EQ(renderer->flushes, 1);
    renderer->needsFlush = true;
    sendVideo(frame(2));
    barrier(67);
    EXPECT_EQ(renderer->flushes, 2);
    sendVideo(frame(3));
    barrier(68);
    EXPECT_EQ(renderer->flushes, 2); // a healthy renderer is left alone
    EXPECT_EQ(renderer->count(), 4u);
    // Each queued sample is the access unit behind 4-byte lengths, never Annex B.
    EXPECT_FALSE(renderer->samples[1].startsWith(QByteArray("\x00\x00\x00\x01", 4)));

    // Parameter sets the decoder rejects leave no format: the next frames are dropped...
    sendVideo(mediaPacket(QByteArray("\x00\x00\x00\x01\x67\xff\x00\x00\x00\x01\x68\xff", 12), configFlag) +
              frame(5));
    barrier(69);
    EXPECT_EQ(renderer->count(), 4u);
    // ...until a usable pair arrives again.
    sendVideo(mediaPacket(clip.parameterSets, configFlag) + frame(4));
    barrier(70);
    EXPECT_EQ(renderer->count(), 5u);
    EXPECT_EQ(firstFrames, 1);
    EXPECT_EQ(countLines(*log, u"Vantle: first frame after "_s), 1);

    // With the frame rate asked for, the first frame after a second-long window logs it.
    VantleSettings::set(SettingsKeys::printFPS, true);
    QThread::msleep(1000);
    sendVideo(frame(8));
    barrier(71);
    EXPECT_EQ(logLines(*log).filter(QRegularExpression(u"^Vantle: \\d+ fps$"_s)).size(), 1);
}

TEST_F(VideoReaderTest, ARecordingWaitingToStopAndASnapshotWaitForTheNextKeyFrame) {
    serve(false);
    auto recorder = std::make_shared<CountingRecorder>();
    client->setRecorder(recorder);
    sendVideo(start() + frame(0) + frame(1));
    barrier(64);
    EXPECT_EQ(recorder->frames, 2);

    std::shared_ptr<StreamRecorderSink> stopped;
    std::atomic<int> completions{0};
    client->setPendingStop([&](std::shared_ptr<StreamRecorderSink> sink) {
        stopped = std::move(sink);
        ++completions;
    });
    client->requestSnapshot();
    // The request also asks the server for a key frame: reset video follows the start-app message.
    EXPECT_EQ(readControl(21), startApp() + QByteArray(1, 17));
    sendVideo(frame(2) + frame(3)); // not key frames: the recording goes on
    barrier(65);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(recorder->frames, 4);
    EXPECT_TRUE(snapshots.isEmpty());
    sendVideo(frame(4) + frame(5)); // the key frame is the recording's last, and the picture
    ASSERT_TRUE(waitUntil([this] { return !snapshots.isEmpty(); }));
    barrier(66);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(stopped, recorder);
    EXPECT_EQ(recorder->frames, 5);
    EXPECT_EQ(recorder->keyFrames, 2);
    EXPECT_EQ(client->takeRecorder(), nullptr);
    ASSERT_TRUE(snapshots[0]->image.has_value());
    EXPECT_EQ(snapshots[0]->image->size(), QSize(64, 48));
    // The picture is frame 4's: close to what the encoder was fed.
    EXPECT_LT(meanDifference(*snapshots[0]->image, clip.pictures[4]), 12.0);
    // One request, one image: the next key frame brings none.
    sendVideo(frame(8));
    barrier(67);
    EXPECT_EQ(snapshots.size(), 1);
}

} // namespace
