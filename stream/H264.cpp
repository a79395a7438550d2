#include "stream/H264.h"

#include "stream/H264Decoder.h"

#include <algorithm>
#include <iterator>

namespace {

// Reads the exp-Golomb coded fields of a parameter set. The emulation-prevention bytes
// (00 00 03) are skipped on the fly; reading past the end sets `overrun` and yields zeros, so
// hostile input ends the parse instead of the loop.
class BitReader {
public:
    explicit BitReader(H264::Bytes rbsp)
        : m_bytes(rbsp) {}

    bool overrun = false;

    unsigned bit() {
        if (m_bitInByte == 0 && !nextByte()) return 0;
        --m_bitInByte;
        return (m_current >> m_bitInByte) & 1u;
    }
    unsigned bits(int count) {
        unsigned value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 1) | bit();
        return value;
    }
    // ue(v); values beyond 32 bits of prefix are nonsense in a parameter set.
    std::uint32_t unsignedGolomb() {
        int zeros = 0;
        while (bit() == 0) {
            if (overrun || ++zeros > 31) {
                overrun = true;
                return 0;
            }
        }
        return std::uint32_t((std::uint64_t(1) << zeros) - 1 + bits(zeros));
    }
    std::int32_t signedGolomb() {
        const std::uint32_t code = unsignedGolomb();
        return (code & 1u) ? std::int32_t((code + 1) / 2) : -std::int32_t(code / 2);
    }

private:
    bool nextByte() {
        if (m_position >= m_bytes.size()) {
            overrun = true;
            return false;
        }
        if (m_zeros >= 2 && m_bytes[m_position] == 3) {
            m_zeros = 0;
            return ++m_position, nextByte();
        }
        m_current = m_bytes[m_position++];
        m_zeros = m_current == 0 ? m_zeros + 1 : 0;
        m_bitInByte = 8;
        return true;
    }

    H264::Bytes m_bytes;
    size_t m_position = 0;
    int m_zeros = 0;
    unsigned m_current = 0;
    int m_bitInByte = 0;
};

void skipScalingList(BitReader& reader, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size && !reader.overrun; ++j) {
        if (next != 0) next = (last + reader.signedGolomb() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

struct SequenceFacts {
    std::uint32_t id = 0;
    int width = 0, height = 0;
};

bool knownProfile(unsigned profile) {
    static constexpr unsigned profiles[] = {66, 77, 88,  100, 110, 122, 244, 44,
                                            83, 86, 118, 128, 138, 139, 134, 135};
    return std::find(std::begin(profiles), std::end(profiles), profile) != std::end(profiles);
}

// After the last syntax element: the stop bit (zero bits to the byte boundary follow).
bool endsWithStopBit(BitReader& reader) {
    return reader.bit() == 1 && !reader.overrun;
}

// The id and displayed picture size a sequence parameter set declares (ITU-T H.264 7.3.2.1.1),
// after the frame cropping. libavcodec offers no public parser for these, and its decoder
// accepts much that is broken, so the fields are read and range-checked here. Nothing when the
// unit is cut short or a number is out of range.
std::optional<SequenceFacts> sequenceFacts(H264::Bytes sps) {
    if (sps.size() < 4) return std::nullopt;
    BitReader reader(sps.subspan(1)); // behind the NAL header byte
    const unsigned profile = reader.bits(8);
    if (!knownProfile(profile)) return std::nullopt;
    reader.bits(16); // constraint flags, level
    SequenceFacts facts;
    facts.id = reader.unsignedGolomb();
    if (facts.id > 31) return std::nullopt;
    unsigned chromaFormat = 1;
    bool separateColourPlanes = false;
    // Every profile above Baseline, Main and Extended carries chroma format, bit depths and
    // scaling matrices.
    if (profile != 66 && profile != 77 && profile != 88) {
        chromaFormat = reader.unsignedGolomb();
        if (chromaFormat > 3) return std::nullopt;
        if (chromaFormat == 3) separateColourPlanes = reader.bit();
        if (reader.unsignedGolomb() > 6 || reader.unsignedGolomb() > 6) return std::nullopt; // bit depths
        reader.bit();       // qpprime_y_zero_transform_bypass_flag
        if (reader.bit()) { // seq_scaling_matrix_present_flag
            for (int i = 0; i < (chromaFormat == 3 ? 12 : 8); ++i)
                if (reader.bit()) skipScalingList(reader, i < 6 ? 16 : 64);
        }
    }
    if (reader.unsignedGolomb() > 12) return std::nullopt; // log2_max_frame_num_minus4
    const std::uint32_t pocType = reader.unsignedGolomb();
    if (pocType == 0) {
        if (reader.unsignedGolomb() > 12) return std::nullopt; // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        reader.bit();
        reader.signedGolomb();
        reader.signedGolomb();
        const std::uint32_t cycle = reader.unsignedGolomb();
        if (cycle > 255) return std::nullopt;
        for (std::uint32_t i = 0; i < cycle; ++i)
            reader.signedGolomb();
    } else if (pocType > 2) {
        return std::nullopt;
    }
    if (reader.unsignedGolomb() > 16) return std::nullopt; // max_num_ref_frames
    reader.bit();                                          // gaps_in_frame_num_value_allowed_flag
    const std::uint32_t widthInMbs = reader.unsignedGolomb() + 1;
    const std::uint32_t heightInMapUnits = reader.unsignedGolomb() + 1;
    const bool frameMbsOnly = reader.bit();
    if (!frameMbsOnly) reader.bit();      // mb_adaptive_frame_field_flag
    reader.bit();                         // direct_8x8_inference_flag
    std::uint32_t crop[4] = {0, 0, 0, 0}; // left, right, top, bottom
    if (reader.bit())
        for (auto& c : crop)
            c = reader.unsignedGolomb();
    const bool hasVui = reader.bit();
    // Without VUI the unit ends here; the VUI itself is left to the decoder.
    if (reader.overrun || (!hasVui && !endsWithStopBit(reader))) return std::nullopt;
    if (widthInMbs > 1024 || heightInMapUnits > 1024) return std::nullopt;

    const std::int64_t arrayType = separateColourPlanes ? 0 : chromaFormat;
    const std::int64_t cropUnitX = arrayType == 0 ? 1 : (arrayType == 3 ? 1 : 2);
    const std::int64_t cropUnitY = (arrayType == 1 ? 2 : 1) * (frameMbsOnly ? 1 : 2);
    const std::int64_t width = std::int64_t(widthInMbs) * 16 - cropUnitX * (std::int64_t(crop[0]) + crop[1]);
    const std::int64_t height = std::int64_t(heightInMapUnits) * 16 * (frameMbsOnly ? 1 : 2) -
                                cropUnitY * (std::int64_t(crop[2]) + crop[3]);
    if (width <= 0 || height <= 0) return std::nullopt;
    facts.width = int(width);
    facts.height = int(height);
    return facts;
}

// The id of the sequence parameter set a picture parameter set refers to (7.3.2.2).
std::optional<std::uint32_t> referencedSequence(H264::Bytes pps) {
    if (pps.size() < 2) return std::nullopt;
    BitReader reader(pps.subspan(1));
    if (reader.unsignedGolomb() > 255) return std::nullopt; // pic_parameter_set_id
    const std::uint32_t sequence = reader.unsignedGolomb();
    if (reader.overrun) return std::nullopt;
    return sequence;
}

void appendBigEndian(QByteArray& out, std::uint32_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xff));
}

} // namespace

namespace H264 {

std::vector<Bytes> nalUnits(Bytes bytes) {
    std::vector<Bytes> units;
    const size_t size = bytes.size();
    std::optional<size_t> unitStart;
    size_t i = 0;
    while (i + 3 <= size) {
        if (bytes[i + 2] > 1) {
            i += 3; // no start code can begin at i, i + 1 or i + 2
            continue;
        }
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) {
            ++i;
            continue;
        }
        // A four-byte start code is a three-byte one behind a zero that belongs to it.
        const size_t codeStart =
            (i > 0 && bytes[i - 1] == 0 && (!unitStart || i - 1 >= *unitStart)) ? i - 1 : i;
        if (unitStart && codeStart > *unitStart)
            units.push_back(bytes.subspan(*unitStart, codeStart - *unitStart));
        unitStart = i + 3;
        i += 3;
    }
    if (unitStart) {
        if (*unitStart < size) units.push_back(bytes.subspan(*unitStart));
    } else if (size > 0) {
        units.push_back(bytes);
    }
    return units;
}

std::optional<Bytes> firstOfType(const std::vector<Bytes>& nals, int type) {
    for (const Bytes& nal : nals)
        if (typeOf(nal) == type) return nal;
    return std::nullopt;
}

// AVCDecoderConfigurationRecord (ISO/IEC 14496-15 5.3.3.1), the form libavcodec takes as
// extradata for length-prefixed H.264:
//
//   0      configurationVersion = 1
//   1      AVCProfileIndication   (SPS byte 1)
//   2      profile_compatibility  (SPS byte 2)
//   3      AVCLevelIndication     (SPS byte 3)
//   4      111111 + lengthSizeMinusOne = 3      -> 0xFF (4-byte NAL lengths)
//   5      111 + numOfSequenceParameterSets = 1 -> 0xE1
//   6..7   SPS length, big-endian; then the SPS
//   n      numOfPictureParameterSets = 1
//   n+1..2 PPS length, big-endian; then the PPS
VideoFormatRef format(Bytes sps, Bytes pps) {
    if (typeOf(sps) != sequenceParameterSet || typeOf(pps) != pictureParameterSet) return nullptr;
    if (sps.size() < 4 || sps.size() > 0xffff || pps.size() > 0xffff) return nullptr;
    const auto facts = sequenceFacts(sps);
    if (!facts || referencedSequence(pps) != facts->id) return nullptr;
    auto described = std::make_shared<VideoFormat>();
    QByteArray& avcC = described->avcC;
    avcC.reserve(qsizetype(11 + sps.size() + pps.size()));
    avcC.append(char(1));
    avcC.append(char(sps[1]));
    avcC.append(char(sps[2]));
    avcC.append(char(sps[3]));
    avcC.append(char(0xff));
    avcC.append(char(0xe1));
    appendBigEndian(avcC, std::uint32_t(sps.size()), 2);
    avcC.append(reinterpret_cast<const char*>(sps.data()), qsizetype(sps.size()));
    avcC.append(char(1));
    appendBigEndian(avcC, std::uint32_t(pps.size()), 2);
    avcC.append(reinterpret_cast<const char*>(pps.data()), qsizetype(pps.size()));
    described->width = facts->width;
    described->height = facts->height;
    // The decoder parses both sets in full.
    if (!H264Decoder::open(*described, H264Decoder::Threads::one)) return nullptr;
    return described;
}

std::optional<VideoSample> sampleBuffer(const std::vector<Bytes>& nals, const VideoFormatRef& format) {
    if (!format) return std::nullopt;
    size_t total = 0;
    for (const Bytes& nal : nals) {
        const int type = typeOf(nal);
        if (type < 0 || type == sequenceParameterSet || type == pictureParameterSet ||
            type == accessUnitDelimiter)
            continue;
        if (nal.size() > 0xffffffffu) return std::nullopt;
        total += 4 + nal.size();
    }
    if (total == 0) return std::nullopt;
    VideoSample sample;
    sample.format = format;
    sample.displayImmediately = true;
    sample.data.reserve(qsizetype(total));
    for (const Bytes& nal : nals) {
        const int type = typeOf(nal);
        if (type < 0 || type == sequenceParameterSet || type == pictureParameterSet ||
            type == accessUnitDelimiter)
            continue;
        appendBigEndian(sample.data, std::uint32_t(nal.size()), 4);
        sample.data.append(reinterpret_cast<const char*>(nal.data()), qsizetype(nal.size()));
    }
    return sample;
}

std::optional<QImage> decodeImage(const std::vector<Bytes>& nals, const VideoFormatRef& format) {
    const auto sample = sampleBuffer(nals, format);
    if (!sample) return std::nullopt;
    return decodeImage(*sample);
}

std::optional<QImage> decodeImage(const VideoSample& sample) {
    if (!sample.format) return std::nullopt;
    auto decoder = H264Decoder::open(*sample.format, H264Decoder::Threads::one);
    if (!decoder || decoder->decode(sample.data, H264Decoder::Drain::yes) != H264Decoder::Result::picture)
        return std::nullopt;
    QImage image = H264Decoder::toImage(decoder->frame());
    if (image.isNull()) return std::nullopt;
    return image;
}

} // namespace H264
