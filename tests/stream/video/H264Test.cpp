#include "stream/H264.h"

#include "VideoFixture.h"

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

std::vector<int> typesOf(const std::vector<H264::Bytes>& units) {
    std::vector<int> types;
    for (const auto& unit : units)
        types.push_back(H264::typeOf(unit));
    return types;
}

} // namespace

TEST(H264, SplitsAtThreeAndFourByteStartCodes) {
    const QByteArray payload = bytes({0, 0, 0, 1,    0x67, 0x42, 0xc0, 0x1e, //
                                      0, 0, 0, 1,    0x68, 0xce, 0x38, 0x80, //
                                      0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33});
    const auto units = H264::nalUnits(payload);
    ASSERT_EQ(typesOf(units), (std::vector<int>{7, 8, 5}));
    EXPECT_EQ(unitBytes(units[0]), bytes({0x67, 0x42, 0xc0, 0x1e})); // the 4-byte code's zero is not kept
    EXPECT_EQ(unitBytes(units[1]), bytes({0x68, 0xce, 0x38, 0x80}));
    EXPECT_EQ(unitBytes(units[2]), bytes({0x65, 0x88, 0x84, 0x00, 0x33})); // runs to the end

    // Any format will do for the sample's layout; the parameter sets and delimiters stay out.
    const auto format = encodeClip(64, 64, 1).format();
    ASSERT_TRUE(format);
    const auto sample = H264::sampleBuffer(units, format);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->data, bytes({0, 0, 0, 5, 0x65, 0x88, 0x84, 0x00, 0x33}));
    EXPECT_TRUE(sample->displayImmediately);
    EXPECT_EQ(sample->format, format);
}

TEST(H264, InputWithoutStartCodesOrUnits) {
    const QByteArray raw = bytes({0x65, 0x00, 0x00, 0x02, 0x11});
    const auto single = H264::nalUnits(raw);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(unitBytes(single[0]), raw);

    const QByteArray empty, lone = bytes({0, 0, 1}), twice = bytes({0, 0, 1, 0, 0, 0, 1, 0x41, 0x9a}),
                            leading = bytes({0x99, 0x98, 0, 0, 1, 0x09, 0xf0});
    EXPECT_TRUE(H264::nalUnits(empty).empty());
    // A start code with nothing behind it, and back-to-back start codes, give no empty units.
    EXPECT_TRUE(H264::nalUnits(lone).empty());
    EXPECT_EQ(typesOf(H264::nalUnits(twice)), (std::vector<int>{1}));
    // Bytes before the first start code belong to no unit.
    EXPECT_EQ(typesOf(H264::nalUnits(leading)), (std::vector<int>{9}));

    EXPECT_FALSE(H264::firstOfType(H264::nalUnits(raw), H264::sequenceParameterSet));
    EXPECT_EQ(H264::typeOf({}), -1);
}

TEST(H264, SampleNeedsAFormatAndAPictureUnit) {
    const auto clip = encodeClip(64, 64, 1);
    const QByteArray setsAndDelimiter = clip.parameterSets + bytes({0, 0, 1, 0x09, 0xf0});
    const auto onlySets = H264::nalUnits(setsAndDelimiter);
    EXPECT_FALSE(H264::sampleBuffer(onlySets, clip.format()));
    EXPECT_FALSE(H264::sampleBuffer({}, clip.format()));
    EXPECT_FALSE(H264::sampleBuffer(clip.units(0), nullptr));
}

TEST(H264, FormatFromEncoderParameterSets) {
    // 2088 is not a multiple of 16: the size comes from the SPS's frame cropping.
    for (const auto& [width, height] : {std::pair{1080, 2088}, std::pair{640, 360}, std::pair{98, 50}}) {
        const auto clip = encodeClip(width, height, 1);
        const auto units = H264::nalUnits(clip.parameterSets);
        ASSERT_EQ(typesOf(units), (std::vector<int>{7, 8}));
        const auto format = H264::format(units[0], units[1]);
        ASSERT_TRUE(format) << width << "x" << height;
        EXPECT_EQ(format->width, width);
        EXPECT_EQ(format->height, height);
        const QByteArray& avcC = format->avcC;
        ASSERT_EQ(avcC.size(), qsizetype(11 + units[0].size() + units[1].size()));
        EXPECT_EQ(avcC.left(6), bytes({1, units[0][1], units[0][2], units[0][3], 0xff, 0xe1}));
        EXPECT_EQ(avcC.mid(6, 2), bytes({0, int(units[0].size())}));
        EXPECT_EQ(avcC.mid(8, qsizetype(units[0].size())), unitBytes(units[0]));
        EXPECT_EQ(avcC.mid(8 + qsizetype(units[0].size()), 3), bytes({1, 0, int(units[1].size())}));
        EXPECT_EQ(avcC.right(qsizetype(units[1].size())), unitBytes(units[1]));
    }
}

TEST(H264, FormatRefusesWhatTheDecoderCannotUse) {
    const auto clip = encodeClip(320, 240, 1);
    const auto units = H264::nalUnits(clip.parameterSets);
    const auto sps = units[0], pps = units[1];
    EXPECT_FALSE(H264::format(pps, sps)); // the order is SPS, then PPS
    EXPECT_FALSE(H264::format({}, pps));
    EXPECT_FALSE(H264::format(sps.first(3), pps));
    EXPECT_FALSE(H264::format(sps.first(6), pps)); // cut short before the picture size

    // Garbage that carries the right type bits.
    const QByteArray noise = bytes({0x67, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    const auto noiseUnit = H264::nalUnits(noise)[0];
    EXPECT_FALSE(H264::format(noiseUnit, pps));
    const QByteArray headerOnly = bytes({0x68});
    EXPECT_FALSE(H264::format(sps, H264::nalUnits(headerOnly)[0]));

    // A PPS that refers to another sequence parameter set: pps_id 0 (bit 1), sps_id 2 (bits 011)
    // where the encoder wrote sps_id 0.
    QByteArray foreignPps = unitBytes(pps);
    foreignPps[1] = char(0xb0);
    EXPECT_FALSE(H264::format(sps, H264::nalUnits(foreignPps)[0]));
}

TEST(H264, DecodesAKeyFrameToTheEncodedPicture) {
    const auto clip = encodeClip(1080, 2088, 3);
    const auto format = clip.format();
    ASSERT_TRUE(format);
    ASSERT_TRUE(clip.frames[0].key);
    const auto image = H264::decodeImage(clip.units(0), format);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(1080, 2088));
    EXPECT_LT(meanDifference(*image, clip.pictures[0]), 4.0);
    EXPECT_GT(meanDifference(*image, clip.pictures[2]), 10.0); // compares something that can differ

    // A P-frame has no reference picture in a one-off decoder.
    ASSERT_FALSE(clip.frames[1].key);
    EXPECT_FALSE(H264::decodeImage(clip.units(1), format));
    // Units that are not H.264 at all.
    const QByteArray notH264 = bytes({0, 0, 1, 0x65, 1, 2, 3, 4, 5});
    EXPECT_FALSE(H264::decodeImage(H264::nalUnits(notH264), format));
}
