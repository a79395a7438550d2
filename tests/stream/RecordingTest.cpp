// StreamRecorder on real H.264 and PCM with a clock the test moves; every file is read back with ffprobe.
#include "StreamTestSupport.h"
#include "stream/StreamRecorder.h"
#include "video/VideoFixture.h"

#include <QTemporaryDir>
#include <cmath>

namespace {

using std::chrono::microseconds;

class StreamRecorderTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    std::atomic<int64_t> now{5'000'000};
    StreamRecorder::Clock clock = [this] { return microseconds(now.load()); };
    // Keys at 0, 10 and 20.
    EncodedClip clip = encodeClip(64, 48, 30, 10);
    VideoFormatRef format = clip.format();

    VideoSample sample(size_t index) const { return *H264::sampleBuffer(clip.units(index), format); }
    void appendFrame(StreamRecorder& recorder, size_t index) {
        recorder.appendVideo(sample(index), format, clip.frames.at(index).key);
    }
    // `frames` of a 440 Hz tone at full scale in both channels, as the device sends it.
    static QByteArray tone(int frames) {
        QByteArray pcm(frames * 4, Qt::Uninitialized);
        for (int i = 0; i < frames * 2; ++i)
            qToLittleEndian(qint16(32767 * std::sin(2 * M_PI * 440 * (i / 2) / 48000.0)), pcm.data() + 2 * i);
        return pcm;
    }
};

TEST_F(StreamRecorderTest, AFileStartsOnAKeyFrameKeepsTheSamplesAsTheyAreAndTheSoundAsAAC) {
    const QString path = folder.filePath(u"A-B 2026-03-03 at 14.05.09.mp4"_s);
    ASSERT_TRUE(writeFile(path, "a stale file"));
    StreamRecorder recorder(path, clock);
    // Before the first key frame nothing is written: frames and sound are dropped, the old file stays.
    for (size_t i = 1; i < 10; ++i)
        appendFrame(recorder, i);
    recorder.appendAudio(tone(4800));
    EXPECT_EQ(readFile(path), "a stale file");

    // 20 frames at 30 per second from the key frame 10 on, with 1600 PCM frames each.
    QStringList hashes;
    for (size_t i = 10; i < 30; ++i) {
        now += 33'333;
        appendFrame(recorder, i);
        hashes.append(dataHash(sample(i).data));
        recorder.appendAudio(tone(1600));
    }
    recorder.appendAudio(QByteArray(3, 'x')); // less than one frame: dropped
    // A new display size (another decoder configuration) cannot go into the same track: dropped.
    const EncodedClip other = encodeClip(32, 32, 1);
    recorder.appendVideo(*H264::sampleBuffer(other.units(0), other.format()), other.format(), true);
    now += 33'333;
    ASSERT_EQ(recorder.finish(), path);
    EXPECT_EQ(recorder.finish(), std::nullopt);

    const Probe file = probe(path);
    EXPECT_EQ(file.streams.size(), 2);
    const QJsonObject video = file.stream(u"video"_s), audio = file.stream(u"audio"_s);
    EXPECT_EQ(std::tuple(video[u"codec_name"_s], video[u"width"_s]), std::tuple(u"h264"_s, 64));
    EXPECT_EQ(std::tuple(audio[u"codec_name"_s], audio[u"sample_rate"_s], audio[u"channels"_s]),
              std::tuple(u"aac"_s, u"48000"_s, 2));
    EXPECT_NEAR(audio[u"bit_rate"_s].toString().toDouble(), 192000, 20000);
    const QList<QJsonObject> packets = file.packetsOf(u"video"_s);
    ASSERT_EQ(packets.size(), 20);
    EXPECT_EQ(file.hashes(u"video"_s), hashes);
    EXPECT_EQ(file.keyFrames(),
              (QList<bool>{true} + QList<bool>(9, false) + QList<bool>{true} + QList<bool>(9, false)));
    // Host-clock times from the first key frame; the video ends at the finish, the sound after its
    // 20 x 1600 frames: both 2/3 s.
    EXPECT_NEAR(packets[0][u"pts_time"_s].toString().toDouble(), 0.0, 1e-4);
    EXPECT_NEAR(packets[2][u"pts_time"_s].toString().toDouble(), 2 * 0.033333, 1e-4);
    EXPECT_NEAR(file.seconds(u"video"_s, u"duration"_s), 20 * 0.033333, 0.002);
    EXPECT_NEAR(file.seconds(u"audio"_s, u"duration"_s), 32000 / 48000.0, 0.025);
    EXPECT_EQ(decodeErrors(path).toStdString(), "");
}

TEST_F(StreamRecorderTest, WithoutAKeyFrameThereIsNoFileAFailedStartTriesAgainAndADroppedRecorderFinishes) {
    const QString path = folder.filePath(u"later/clip.mp4"_s);
    {
        StreamRecorder recorder(path, clock);
        appendFrame(recorder, 1);
        recorder.appendAudio(tone(960));
        EXPECT_EQ(recorder.finish(), std::nullopt);
        appendFrame(recorder, 0); // finished: takes nothing more
    }
    EXPECT_FALSE(QFile::exists(path));
    {
        StreamRecorder recorder(path, clock);
        appendFrame(recorder, 0); // the folder does not exist: the writer cannot start
        EXPECT_FALSE(QFile::exists(path));
        ASSERT_TRUE(QDir().mkpath(folder.filePath(u"later"_s)));
        // 11 and 12 arrive within the same clock tick, 13 within the same tick of the track's clock.
        for (const auto& [i, step] :
             {std::pair(1, 33'333), {10, 33'333}, {11, 33'333}, {12, 0}, {13, 1'005}}) {
            now += step;
            appendFrame(recorder, size_t(i));
            recorder.appendAudio(tone(1600));
        }
    } // never finished: the recorder finishes the file as it goes
    const QList<QJsonObject> video = probe(path).packetsOf(u"video"_s);
    ASSERT_EQ(video.size(), 4); // from key frame 10 on
    EXPECT_EQ(video[0][u"data_hash"_s], dataHash(sample(10).data));
    const auto at = [&](int index) { return video[index][u"pts_time"_s].toString().toDouble(); };
    EXPECT_NEAR(at(1), 0.033333, 1e-4);
    EXPECT_NEAR(at(2) - at(1), 0.001, 1e-4); // each tie gets 1 ms
    EXPECT_NEAR(at(3) - at(2), 0.001, 1e-4);
    EXPECT_EQ(decodeErrors(path).toStdString(), "");
}

} // namespace
