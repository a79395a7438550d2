#include "stream/VideoReader.h"

#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "stream/SocketIO.h"

using namespace Qt::StringLiterals;

namespace {

constexpr uint32_t h264CodecID = 0x68323634; // "h264"
constexpr uint32_t maxPacketBytes = 0x1FFFFFF;
constexpr qsizetype deviceNameBytes = 64;

} // namespace

VideoReader::VideoReader(std::vector<VideoSink*> sinks, Events events, VantleLog& log)
    : m_sinks(std::move(sinks))
    , m_events(std::move(events))
    , m_log(log)
    , m_fpsWindowStart(std::chrono::steady_clock::now()) {}

VideoReader::End VideoReader::read(int fd, std::chrono::steady_clock::time_point startedAt) {
    if (!readExactly(fd, deviceNameBytes)) return {End::closedEarly};
    const auto codec = readExactly(fd, 4);
    if (!codec) return {End::closedEarly};
    if (const uint32_t id = readBE(*codec, 0); id != h264CodecID) return {End::unsupportedCodec, id};

    VideoFormatRef format;
    bool firstFramePending = true;
    for (;;) {
        const auto header = readExactly(fd, 12);
        if (!header) break;
        const uint8_t flags = uint8_t(header->at(0));
        if (flags >= 0x80) {
            const QSize size(int(readBE(*header, 4)), int(readBE(*header, 8)));
            m_log.write(u"Vantle: video session %1x%2"_s.arg(size.width()).arg(size.height()));
            m_events.session(size);
            continue;
        }
        const uint32_t size = readBE(*header, 8);
        if (size == 0 || size > maxPacketBytes) break;
        const auto payload = readExactly(fd, qsizetype(size));
        if (!payload) break;
        const std::vector<H264::Bytes> nals = H264::nalUnits(*payload);
        const auto sps = H264::firstOfType(nals, H264::sequenceParameterSet);
        const auto pps = H264::firstOfType(nals, H264::pictureParameterSet);
        if (sps && pps) format = H264::format(*sps, *pps);
        if (flags >= 0x40 || !format) continue; // parameter sets only, or nothing decodable yet

        const std::optional<VideoSample> sample = H264::sampleBuffer(nals, format);
        if (!sample) continue;
        for (VideoSink* sink : m_sinks)
            sink->push(*sample, flags >= 0x20);
        countFrame();
        if (std::exchange(firstFramePending, false)) {
            m_log.write(QString::asprintf(
                "Vantle: first frame after %.2fs",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count()));
            m_events.firstFrame();
        }
    }
    return {End::ended};
}

void VideoReader::countFrame() {
    ++m_fpsFrames;
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - m_fpsWindowStart).count();
    if (elapsed < 1.0) return;
    if (VantleSettings::get(SettingsKeys::printFPS))
        m_log.write(QString::asprintf("Vantle: %.0f fps", double(m_fpsFrames) / elapsed));
    m_fpsFrames = 0;
    m_fpsWindowStart = now;
}

void SnapshotTaker::push(const VideoSample& sample, bool keyFrame) {
    if (keyFrame && m_requested.exchange(false)) m_still(H264::decodeImage(sample));
}
