#pragma once

#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// H.264 as it travels from the display server: Annex B access units (start codes) on the socket,
// turned here into length-prefixed samples (4-byte big-endian lengths) with an avcC-style format
// description built from one SPS and one PPS, which is what FFmpeg's H.264 decoder takes as
// extradata. Pure functions, safe from any thread.

// A format description: the decoder configuration (avcC record, NAL length size 4) and the
// picture size the SPS declares. Immutable once built; shared between samples.
struct VideoFormat {
    QByteArray avcC;
    int width = 0;
    int height = 0;
};
using VideoFormatRef = std::shared_ptr<const VideoFormat>;

// One access unit in length-prefixed form, to be shown at once on arrival.
struct VideoSample {
    QByteArray data;
    VideoFormatRef format;
    bool displayImmediately = true;
};

namespace H264 {

using Bytes = std::span<const std::uint8_t>;

enum NalType : int { sequenceParameterSet = 7, pictureParameterSet = 8, accessUnitDelimiter = 9 };

// The type of a NAL unit (its first byte's low five bits), -1 for an empty unit.
inline int typeOf(Bytes nal) {
    return nal.empty() ? -1 : nal.front() & 0x1f;
}

// Splits Annex B bytes at every 00 00 01 / 00 00 00 01; without any start code the whole (non-
// empty) input is one unit. The units point into `bytes`.
std::vector<Bytes> nalUnits(Bytes bytes);
inline std::vector<Bytes> nalUnits(const QByteArray& bytes) {
    return nalUnits(Bytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()), size_t(bytes.size())));
}
// The units would point into a buffer that is gone by the next statement.
std::vector<Bytes> nalUnits(QByteArray&& bytes) = delete;
// The first unit of the given type, if any.
std::optional<Bytes> firstOfType(const std::vector<Bytes>& nals, int type);

// A format from exactly one SPS and one PPS; nothing when the decoder rejects them.
VideoFormatRef format(Bytes sps, Bytes pps);
// Every unit except SPS, PPS and delimiters behind its length; nothing when that leaves none.
std::optional<VideoSample> sampleBuffer(const std::vector<Bytes>& nals, const VideoFormatRef& format);
// A one-off decode of one key frame to an image (a decoder of its own, so the display path never
// pauses). Nothing when it does not decode.
std::optional<QImage> decodeImage(const std::vector<Bytes>& nals, const VideoFormatRef& format);
std::optional<QImage> decodeImage(const VideoSample& sample);

} // namespace H264
