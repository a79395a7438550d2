#include "stream/FrameRenderer.h"

#include "VideoFixture.h"
#include "stream/H264Decoder.h"
#include "stream/ImageConverter.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

// Ten 320x240 frames with key frames 0 and 5, encoded once for the suite.
const EncodedClip& tenFrames() {
    static const EncodedClip clip = encodeClip(320, 240, 10, 5);
    return clip;
}

VideoSample sampleOf(const EncodedClip& clip, size_t index, const VideoFormatRef& format) {
    auto sample = H264::sampleBuffer(clip.units(index), format);
    EXPECT_TRUE(sample) << "frame " << index;
    return sample.value_or(VideoSample{});
}

QImage imageOf(const VideoFrame& frame) {
    return H264Decoder::toImage(frame.get());
}

class FrameRendererTest : public ::testing::Test {
protected:
    const EncodedClip& clip = tenFrames();
    const VideoFormatRef format = clip.format();
    FrameRenderer renderer;
    std::atomic<int> ready = 0;

    void SetUp() override {
        ASSERT_TRUE(format && clip.frames[5].key && !clip.frames[4].key);
        renderer.setFrameReady([this] { ++ready; });
    }
    void enqueue(size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            renderer.enqueue(sampleOf(clip, i, format));
    }
};

TEST_F(FrameRendererTest, ShowsEveryFrameWhenTheViewKeepsUp) {
    EXPECT_EQ(renderer.status(), VideoRenderer::Status::idle);
    for (size_t i = 0; i < clip.frames.size(); ++i) {
        enqueue(i, i + 1);
        const VideoFrame frame = renderer.takeFrame();
        ASSERT_TRUE(frame) << "frame " << i;
        EXPECT_LT(meanDifference(imageOf(frame), clip.pictures[i]), 4.0) << "frame " << i;
        EXPECT_FALSE(renderer.takeFrame()); // taken means gone
    }
    EXPECT_EQ(renderer.status(), VideoRenderer::Status::rendering);
    EXPECT_EQ(ready, int(clip.frames.size()));
    const auto counts = renderer.counts();
    EXPECT_EQ(counts.decoded, clip.frames.size());
    EXPECT_EQ(counts.replaced, 0u);
    EXPECT_EQ(counts.errors, 0u);
}

TEST_F(FrameRendererTest, ANewerFrameReplacesOneNotYetShown) {
    enqueue(0, 5);
    EXPECT_EQ(ready, 1); // told once; the view takes whatever is newest when it gets to it
    const VideoFrame newest = renderer.takeFrame();
    ASSERT_TRUE(newest);
    EXPECT_LT(meanDifference(imageOf(newest), clip.pictures[4]), 4.0);
    EXPECT_GT(meanDifference(imageOf(newest), clip.pictures[0]), 10.0);
    EXPECT_EQ(renderer.counts().replaced, 4u);

    // The view still holds the taken frame while the decoder goes on: its pixels stay its own.
    const QImage before = imageOf(newest);
    enqueue(5, 6);
    EXPECT_EQ(ready, 2);
    EXPECT_EQ(imageOf(newest), before);
    renderer.flush(); // drops the frame that was not shown
    EXPECT_FALSE(renderer.takeFrame());
}

TEST_F(FrameRendererTest, ABrokenSampleFailsUntilFlushedAndPicturesResumeAtTheNextKeyFrame) {
    enqueue(0, 2);
    ASSERT_TRUE(renderer.takeFrame());
    // Frame 2 with its slice data overwritten, then with a unit far longer than the sample.
    VideoSample corrupt = sampleOf(clip, 2, format), cut = corrupt;
    for (qsizetype i = 8; i < corrupt.data.size(); ++i)
        corrupt.data[i] = char(0xff - i % 7);
    cut.data[0] = char(0x7f);
    for (const VideoSample& broken : {corrupt, cut}) {
        renderer.enqueue(broken);
        EXPECT_EQ(renderer.status(), VideoRenderer::Status::failed);
        EXPECT_TRUE(renderer.requiresFlushToResumeDecoding());
        EXPECT_FALSE(renderer.takeFrame());
        renderer.flush(); // what the video reader does before its next sample
        EXPECT_EQ(renderer.status(), VideoRenderer::Status::idle);
        EXPECT_FALSE(renderer.requiresFlushToResumeDecoding());
    }
    EXPECT_EQ(renderer.counts().errors, 2u);

    // P-frames that refer to the lost picture show nothing; the key frame shows again.
    for (size_t i = 3; i < clip.frames.size(); ++i) {
        enqueue(i, i + 1);
        const VideoFrame frame = renderer.takeFrame();
        EXPECT_NE(renderer.status(), VideoRenderer::Status::failed) << "frame " << i;
        EXPECT_EQ(bool(frame), i >= 5) << "frame " << i;
        if (frame) {
            EXPECT_LT(meanDifference(imageOf(frame), clip.pictures[i]), 4.0) << "frame " << i;
        }
    }
    EXPECT_EQ(renderer.status(), VideoRenderer::Status::rendering);
}

TEST_F(FrameRendererTest, AFormatChangeMidStreamReopensTheDecoder) {
    const auto second = encodeClip(200, 360, 3);
    ASSERT_NE(format->avcC, second.format()->avcC);
    enqueue(0, 3);
    EXPECT_EQ(imageOf(renderer.takeFrame()).size(), QSize(320, 240));
    for (size_t i = 0; i < 2; ++i) {
        renderer.enqueue(sampleOf(second, i, second.format()));
        const VideoFrame frame = renderer.takeFrame();
        ASSERT_TRUE(frame) << "frame " << i;
        EXPECT_LT(meanDifference(imageOf(frame), second.pictures[i]), 4.0);
    }
    // The same parameter sets built again (as when they are repeated in-band) keep the decoder and
    // its reference pictures: a P-frame still decodes.
    ASSERT_FALSE(second.frames[2].key);
    renderer.enqueue(sampleOf(second, 2, second.format()));
    EXPECT_LT(meanDifference(imageOf(renderer.takeFrame()), second.pictures[2]), 4.0);
    EXPECT_EQ(renderer.counts().errors, 0u);
}

// The software surface's conversion: one buffer for a stream of same-sized pictures, and a kept
// copy keeps its pixels.
TEST_F(FrameRendererTest, TheImageConverterReusesItsBufferButNotOneStillHeld) {
    std::vector<VideoFrame> frames;
    for (size_t i = 0; i < 3; ++i) {
        enqueue(i, i + 1);
        frames.push_back(renderer.takeFrame());
        ASSERT_TRUE(frames.back());
    }
    ImageConverter converter;
    const uchar* buffer = converter.convert(frames[0].get()).constBits();
    EXPECT_EQ(converter.convert(frames[1].get()).constBits(), buffer);
    const QImage kept = converter.convert(frames[1].get());
    EXPECT_NE(converter.convert(frames[2].get()).constBits(), kept.constBits());
    EXPECT_LT(meanDifference(kept, clip.pictures[1]), 4.0);
    EXPECT_TRUE(converter.convert(nullptr).isNull());
}

} // namespace
