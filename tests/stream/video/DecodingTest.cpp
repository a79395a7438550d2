// H.264 from the simulated server's encoder: units, formats, still images and the frame renderer.
#include "VideoFixture.h"
#include "stream/FrameRenderer.h"
#include "stream/H264.h"
#include "stream/H264Decoder.h"
#include "stream/ImageConverter.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray unitBytes(H264::Bytes unit) {
    return QByteArray(reinterpret_cast<const char*>(unit.data()), qsizetype(unit.size()));
}

std::vector<QByteArray> unitsOf(const QByteArray& payload) {
    std::vector<QByteArray> units;
    for (const auto& unit : H264::nalUnits(payload))
        units.push_back(unitBytes(unit));
    return units;
}

TEST(H264, SplitsAtThreeAndFourByteStartCodes) {
    const QByteArray sps = bytes({0x67, 0x42, 0xc0, 0x1e}), pps = bytes({0x68, 0xce, 0x38, 0x80}),
                     idr = bytes({0x65, 0x88, 0x84, 0x00, 0x33}), raw = bytes({0x65, 0x00, 0x00, 0x02, 0x11});
    const std::pair<QByteArray, std::vector<QByteArray>> cases[] = {
        // The 4-byte code's zero is not kept; the last unit runs to the end.
        {bytes({0, 0, 0, 1}) + sps + bytes({0, 0, 0, 1}) + pps + bytes({0, 0, 1}) + idr, {sps, pps, idr}},
        {raw, {raw}}, // no start code: one unit
        {{}, {}},
        // A start code with nothing behind it, and back-to-back start codes, give no empty units.
        {bytes({0, 0, 1}), {}},
        {bytes({0, 0, 1, 0, 0, 0, 1, 0x41, 0x9a}), {bytes({0x41, 0x9a})}},
        // Bytes before the first start code belong to no unit.
        {bytes({0x99, 0x98, 0, 0, 1, 0x09, 0xf0}), {bytes({0x09, 0xf0})}},
    };
    for (const auto& [payload, units] : cases)
        EXPECT_EQ(unitsOf(payload), units) << payload.toHex().toStdString();
    EXPECT_FALSE(H264::firstOfType(H264::nalUnits(raw), H264::sequenceParameterSet));
    EXPECT_EQ(H264::typeOf({}), -1);

    // Any format will do for the sample's layout; the parameter sets and delimiters stay out.
    const auto clip = encodeClip(64, 64, 1);
    const auto format = clip.format();
    ASSERT_TRUE(format);
    const auto sample = H264::sampleBuffer(H264::nalUnits(cases[0].first), format);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->data, bytes({0, 0, 0, 5}) + idr);
    EXPECT_TRUE(sample->displayImmediately);
    EXPECT_EQ(sample->format, format);
    // A sample needs a format and a picture unit.
    const QByteArray setsAndDelimiter = clip.parameterSets + bytes({0, 0, 1, 0x09, 0xf0});
    EXPECT_FALSE(H264::sampleBuffer(H264::nalUnits(setsAndDelimiter), format));
    EXPECT_FALSE(H264::sampleBuffer({}, format));
    EXPECT_FALSE(H264::sampleBuffer(clip.units(0), nullptr));
}

// The format from the encoder's parameter sets, and a key frame decoded with it alone.
TEST(H264, FormatFromEncoderParameterSetsDecodesAKeyFrameAndRefusesWhatTheDecoderCannotUse) {
    // 2088 is not a multiple of 16: the size comes from the SPS's frame cropping.
    for (const auto& [width, height] : {std::pair{1080, 2088}, std::pair{640, 360}, std::pair{98, 50}}) {
        const auto clip = encodeClip(width, height, 2);
        const auto units = H264::nalUnits(clip.parameterSets);
        ASSERT_EQ(units.size(), 2u);
        const auto format = H264::format(units[0], units[1]);
        ASSERT_TRUE(format && clip.frames[0].key && !clip.frames[1].key) << width << "x" << height;
        EXPECT_EQ(format->width, width);
        EXPECT_EQ(format->height, height);
        const auto image = H264::decodeImage(clip.units(0), format);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(width, height));
        EXPECT_LT(meanDifference(*image, clip.pictures[0]), 4.0);
        EXPECT_GT(meanDifference(*image, clip.pictures[1]), 4.0); // compares something that can differ
        // A P-frame has no reference picture in a one-off decoder.
        EXPECT_FALSE(H264::decodeImage(clip.units(1), format));
    }
    // What the decoder cannot use: units that are not H.264 at all, and broken parameter sets.
    const auto clip = encodeClip(320, 240, 1);
    const QByteArray notH264 = bytes({0, 0, 1, 0x65, 1, 2, 3, 4, 5});
    EXPECT_FALSE(H264::decodeImage(H264::nalUnits(notH264), clip.format()));
    const auto units = H264::nalUnits(clip.parameterSets);
    const auto sps = units[0], pps = units[1];
    EXPECT_FALSE(H264::format(pps, sps)); // the order is SPS, then PPS
    EXPECT_FALSE(H264::format({}, pps));
    EXPECT_FALSE(H264::format(sps.first(3), pps));
    EXPECT_FALSE(H264::format(sps.first(6), pps)); // cut short before the picture size

    // Garbage that carries the right type bits.
    const QByteArray noise = bytes({0x67, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    EXPECT_FALSE(H264::format(H264::nalUnits(noise)[0], pps));
    const QByteArray headerOnly = bytes({0x68});
    EXPECT_FALSE(H264::format(sps, H264::nalUnits(headerOnly)[0]));

    // A PPS that refers to another sequence parameter set: pps_id 0 (bit 1), sps_id 2 (bits 011)
    // where the encoder wrote sps_id 0.
    QByteArray foreignPps = unitBytes(pps);
    foreignPps[1] = char(0xb0);
    EXPECT_FALSE(H264::format(sps, H264::nalUnits(foreignPps)[0]));
}

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
            renderer.push(sampleOf(clip, i, format), clip.frames[i].key);
    }
};

// Also the software surface's conversion: one buffer reused, but never one still held; and a taken
// frame's pixels stay its own while the decoder goes on.
TEST_F(FrameRendererTest, ShowsEveryFrameWhenTheViewKeepsUpAndTheConverterReusesItsBuffer) {
    EXPECT_EQ(renderer.status(), FrameRenderer::Status::idle);
    std::vector<VideoFrame> frames;
    for (size_t i = 0; i < clip.frames.size(); ++i) {
        enqueue(i, i + 1);
        frames.push_back(renderer.takeFrame());
        ASSERT_TRUE(frames.back()) << "frame " << i;
        EXPECT_LT(meanDifference(imageOf(frames.back()), clip.pictures[i]), 4.0) << "frame " << i;
        EXPECT_FALSE(renderer.takeFrame()); // taken means gone
    }
    EXPECT_EQ(renderer.status(), FrameRenderer::Status::rendering);
    EXPECT_EQ(ready, int(clip.frames.size()));
    const auto counts = renderer.counts();
    EXPECT_EQ(std::tuple(counts.decoded, counts.replaced, counts.errors),
              std::tuple(clip.frames.size(), 0u, 0u));

    ImageConverter converter;
    const uchar* buffer = converter.convert(frames[0].get()).constBits();
    EXPECT_EQ(converter.convert(frames[1].get()).constBits(), buffer);
    const QImage kept = converter.convert(frames[1].get());
    EXPECT_NE(converter.convert(frames[2].get()).constBits(), kept.constBits());
    EXPECT_LT(meanDifference(kept, clip.pictures[1]), 4.0);
    EXPECT_TRUE(converter.convert(nullptr).isNull());
}

// A new format reopens the decoder (the full session's resize); the same parameter sets built again,
// as when they are repeated in-band, keep it and its reference pictures: a P-frame still decodes.
TEST_F(FrameRendererTest, ANewerFrameReplacesOneNotYetShownAndTheSameParameterSetsBuiltAgainKeepTheDecoder) {
    enqueue(0, 5);
    EXPECT_EQ(ready, 1); // told once; the view takes whatever is newest when it gets to it
    const VideoFrame newest = renderer.takeFrame();
    ASSERT_TRUE(newest);
    EXPECT_LT(meanDifference(imageOf(newest), clip.pictures[4]), 4.0);
    EXPECT_GT(meanDifference(imageOf(newest), clip.pictures[0]), 10.0);
    EXPECT_EQ(renderer.counts().replaced, 4u);
    enqueue(5, 6);
    EXPECT_EQ(ready, 2);
    ASSERT_TRUE(renderer.takeFrame());
    const VideoFormatRef again = clip.format();
    ASSERT_NE(again, format);
    ASSERT_FALSE(clip.frames[6].key);
    renderer.push(sampleOf(clip, 6, again), false);
    EXPECT_LT(meanDifference(imageOf(renderer.takeFrame()), clip.pictures[6]), 4.0);
    EXPECT_EQ(renderer.counts().errors, 0u);
}

TEST_F(FrameRendererTest, ABrokenSampleFailsUntilTheNextKeyFrameWherePicturesResumeByThemselves) {
    enqueue(0, 2);
    ASSERT_TRUE(renderer.takeFrame());
    // Frame 2 with its slice data overwritten, then with a unit far longer than the sample.
    VideoSample corrupt = sampleOf(clip, 2, format), cut = corrupt;
    for (qsizetype i = 8; i < corrupt.data.size(); ++i)
        corrupt.data[i] = char(0xff - i % 7);
    cut.data[0] = char(0x7f);
    for (const VideoSample& broken : {corrupt, cut}) {
        renderer.push(broken, true); // the failed state ends only at a key frame that decodes
        EXPECT_EQ(renderer.status(), FrameRenderer::Status::failed);
        EXPECT_FALSE(renderer.takeFrame());
    }
    EXPECT_EQ(renderer.counts().errors, 2u);

    // P-frames that refer to the lost picture are skipped; the key frame shows again.
    for (size_t i = 3; i < clip.frames.size(); ++i) {
        enqueue(i, i + 1);
        const VideoFrame frame = renderer.takeFrame();
        EXPECT_EQ(renderer.status() == FrameRenderer::Status::failed, i < 5) << "frame " << i;
        EXPECT_EQ(bool(frame), i >= 5) << "frame " << i;
        if (frame) {
            EXPECT_LT(meanDifference(imageOf(frame), clip.pictures[i]), 4.0) << "frame " << i;
        }
    }
    EXPECT_EQ(renderer.status(), FrameRenderer::Status::rendering);
}

} // namespace
