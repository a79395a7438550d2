// The video reader on real H.264 through a socket pair: formats, drops, recovery, recordings, stills.
#include "stream/VideoReader.h"

#include "StreamTestSupport.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "stream/StreamRecorder.h"
#include "video/VideoFixture.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <future>

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

// The reader on its own, with one sink; the test is the device.
TEST_F(VideoReaderTest, FramesNeedUsableParameterSetsAndReachTheSinksInOrderAsLengthPrefixedUnits) {
    ASSERT_TRUE(clip.frames[0].key && clip.frames[4].key && clip.frames[8].key && !clip.frames[1].key);
    SocketPair pair;
    RecordingRenderer sink;
    int firstFrames = 0;
    VideoReader reader({&sink}, {[](QSize) {}, [&] { ++firstFrames; }}, *log);
    auto reading = std::async(std::launch::async, [&] { return reader.read(pair.local, {}); });
    // In-band parameter sets; then a pair the decoder rejects leaves no format, and frame 5 is dropped
    // until a usable pair arrives again.
    writeAll(pair.remote,
             videoStart() + mediaPacket(clip.parameterSets + clip.frames[0].data, keyFlag) + frame(1) +
                 frame(2) + frame(3) +
                 mediaPacket(QByteArray("\x00\x00\x00\x01\x67\xff\x00\x00\x00\x01\x68\xff", 12), configFlag) +
                 frame(5) + mediaPacket(clip.parameterSets, configFlag) + frame(4));
    EXPECT_TRUE(waitUntil([&] { return sink.count() == 5; }));
    // With the frame rate asked for, the first frame after a second-long window logs it.
    VantleSettings::set(SettingsKeys::printFPS, true);
    QThread::msleep(1000);
    writeAll(pair.remote, frame(8));
    pair.closeRemote();
    EXPECT_EQ(reading.get().kind, VideoReader::End::ended);
    ::close(pair.local);
    QList<QByteArray> expected;
    for (const size_t i : {0, 1, 2, 3, 4, 8})
        expected.append(H264::sampleBuffer(clip.units(i), clip.format())->data);
    EXPECT_EQ(QList<QByteArray>(sink.samples.begin(), sink.samples.end()), expected);
    EXPECT_EQ(firstFrames, 1);
    EXPECT_EQ(countLines(*log, u"Vantle: first frame after "_s), 1);
    EXPECT_EQ(logLines(*log).filter(QRegularExpression(u"^Vantle: \\d+ fps$"_s)).size(), 1);
}

TEST_F(VideoReaderTest, ARecordingStopWaitsForTheNextKeyFrameOrItsTimerAndASnapshotForTheNextKeyFrame) {
    serve(false);
    QTemporaryDir folder;
    auto recorder = std::make_shared<StreamRecorder>(folder.filePath(u"r.mp4"_s));
    EXPECT_EQ(readControl(20), startApp());
    client->startRecording(recorder);
    EXPECT_EQ(readControl(1), QByteArray(1, 17)); // reset video: the file's first key frame comes soon
    sendVideo(start() + frame(0) + frame(1));
    barrier(63);

    QList<std::shared_ptr<StreamRecorder>> stopped; // one entry per completion
    std::mutex stoppedLock;
    const auto stop = [&] {
        client->stopRecordingWithFinalFrame([&](std::shared_ptr<StreamRecorder> taken) {
            std::lock_guard guard(stoppedLock);
            stopped.append(std::move(taken));
        });
    };
    stop();
    client->requestSnapshot();
    EXPECT_EQ(readControl(2), QByteArray(2, 17)); // for the stop's final frame, and for the still
    sendVideo(frame(2) + frame(3));               // not key frames: the recording goes on
    barrier(64);
    EXPECT_TRUE(stopped.isEmpty());
    EXPECT_TRUE(snapshots.isEmpty());
    sendVideo(frame(4) + frame(5)); // the key frame is the recording's last, and the picture
    ASSERT_TRUE(waitUntil([this] { return !snapshots.isEmpty(); }));
    barrier(65);
    ASSERT_EQ(stopped, QList{recorder});
    EXPECT_EQ(client->takeRecorder(), nullptr);
    const std::optional<QString> file = recorder->finish();
    ASSERT_TRUE(file.has_value());
    QStringList hashes;
    for (size_t i = 0; i < 5; ++i)
        hashes.append(dataHash(renderer->samples.at(i)));
    EXPECT_EQ(probe(*file).hashes(u"video"_s), hashes);
    // The 0.8 s timer finds the stop completed: nothing runs twice. Without a recording, at once.
    QTest::qWait(1000);
    stop();
    EXPECT_EQ(stopped, (QList<std::shared_ptr<StreamRecorder>>{recorder, nullptr}));

    ASSERT_TRUE(snapshots[0]->image.has_value());
    EXPECT_EQ(snapshots[0]->image->size(), QSize(64, 48));
    // The picture is frame 4's: close to what the encoder was fed.
    EXPECT_LT(meanDifference(*snapshots[0]->image, clip.pictures[4]), 12.0);
    // One request, one image: the next key frame brings none.
    sendVideo(frame(8));
    barrier(66);
    EXPECT_EQ(snapshots.size(), 1);

    // No key frame within 0.8 s: the stop completes on its timer, and the recorder has no file.
    auto late = std::make_shared<StreamRecorder>(folder.filePath(u"late.mp4"_s));
    client->startRecording(late);
    sendVideo(frame(9));
    stop();
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard guard(stoppedLock);
        return stopped.size() == 3;
    }));
    EXPECT_EQ(stopped.last(), late);
    EXPECT_EQ(late->finish(), std::nullopt);
    EXPECT_FALSE(QFile::exists(late->path()));
    // A window that closes takes the recorder at once, and drops the stop waiting for a key frame.
    auto closing = std::make_shared<StreamRecorder>(folder.filePath(u"closing.mp4"_s));
    client->startRecording(closing);
    stop();
    EXPECT_EQ(client->takeRecorder(), closing);
    QTest::qWait(1000);
    EXPECT_EQ(stopped.size(), 3);
}

} // namespace
