// libFuzzer target: the H.264 splitter, parameter-set reading and sample building on arbitrary
// bytes, as a video packet's payload reaches them. Checks the contracts as well as memory safety:
// units lie inside the input and are never empty, and a sample is exactly the non-parameter-set
// units behind their big-endian lengths.
#include "stream/H264.h"

#include <cstdlib>
#include <cstring>

namespace {

// SPS and PPS of a 64 x 48 baseline stream from libx264 (Annex B), for inputs without their own.
const std::uint8_t parameterSets[] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x0a, 0xda, 0x11, 0xe8,
                                      0x40, 0x00, 0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0f, 0x23, 0xc4,
                                      0x89, 0xa8, 0x00, 0x00, 0x00, 0x01, 0x68, 0xce, 0x0f, 0xc8};

void check(bool holds) {
    if (!holds) std::abort();
}

VideoFormatRef fallbackFormat() {
    static const VideoFormatRef format = [] {
        const auto sets = H264::nalUnits(H264::Bytes(parameterSets, sizeof parameterSets));
        return H264::format(sets.at(0), sets.at(1));
    }();
    return format;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const H264::Bytes input(data, size);
    const auto units = H264::nalUnits(input);
    check(size > 0 || units.empty());
    size_t expected = 0;
    for (const H264::Bytes& unit : units) {
        check(!unit.empty() && unit.data() >= data && unit.data() + unit.size() <= data + size);
        const int type = H264::typeOf(unit);
        if (type != H264::sequenceParameterSet && type != H264::pictureParameterSet &&
            type != H264::accessUnitDelimiter)
            expected += 4 + unit.size();
    }

    // The input's own parameter sets, when it has both (the SPS reader and libavcodec see them).
    const auto sps = H264::firstOfType(units, H264::sequenceParameterSet);
    const auto pps = H264::firstOfType(units, H264::pictureParameterSet);
    VideoFormatRef format = sps && pps ? H264::format(*sps, *pps) : nullptr;
    if (format) check(format->width > 0 && format->height > 0 && format->avcC.size() >= 11);
    if (!format) format = fallbackFormat();
    check(format != nullptr);

    const auto sample = H264::sampleBuffer(units, format);
    check(sample.has_value() == (expected > 0));
    if (!sample) return 0;
    check(size_t(sample->data.size()) == expected && sample->format == format);
    const auto* bytes = reinterpret_cast<const uint8_t*>(sample->data.constData());
    size_t at = 0;
    for (const H264::Bytes& unit : units) {
        const int type = H264::typeOf(unit);
        if (type == H264::sequenceParameterSet || type == H264::pictureParameterSet ||
            type == H264::accessUnitDelimiter)
            continue;
        const size_t length = size_t(bytes[at]) << 24 | size_t(bytes[at + 1]) << 16 |
                              size_t(bytes[at + 2]) << 8 | size_t(bytes[at + 3]);
        check(length == unit.size() && std::memcmp(bytes + at + 4, unit.data(), length) == 0);
        at += 4 + length;
    }
    return 0;
}
