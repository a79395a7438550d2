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

std::vector<QByteArray> unitsOf(const QByteArray& payload) {
    std::vector<QByteArray> units;
    for (const auto& unit : H264::nalUnits(payload))
        units.push_back(unitBytes(unit));
    return units;
}

} // namespace

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

TEST(H264, FormatFromEncoderParameterSets) {
    // 2088 is not a multiple of 16: the size comes from the SPS's frame cropping.
    for (const auto& [width, height] : {std::pair{1080, 2088}, std::pair{640, 360}, std::pair{98, 50}}) {
        const auto clip = encodeClip(width, height, 1);
        const auto units = H264::nalUnits(clip.parameterSets);
        ASSERT_EQ(units.size(), 2u);
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
    EXPECT_FALSE(H264::format(H264::nalUnits(noise)[0], pps));
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
    ASSERT_TRUE(format && clip.frames[0].key && !clip.frames[1].key);
    const auto image = H264::decodeImage(clip.units(0), format);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(1080, 2088));
    EXPECT_LT(meanDifference(*image, clip.pictures[0]), 4.0);
    EXPECT_GT(meanDifference(*image, clip.pictures[2]), 10.0); // compares something that can differ
    // A P-frame has no reference picture in a one-off decoder; units that are not H.264 at all.
    EXPECT_FALSE(H264::decodeImage(clip.units(1), format));
    const QByteArray notH264 = bytes({0, 0, 1, 0x65, 1, 2, 3, 4, 5});
    EXPECT_FALSE(H264::decodeImage(H264::nalUnits(notH264), format));
}
