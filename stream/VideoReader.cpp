#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "stream/AndroidStreamClient.h"
#include "stream/StreamRecorder.h"
#include "stream/VideoRenderer.h"

using namespace Qt::StringLiterals;

namespace {

constexpr uint32_t h264CodecID = 0x68323634; // "h264"
constexpr uint32_t maxPacketBytes = 0x1FFFFFF;
constexpr qsizetype deviceNameBytes = 64;

// The current format, replaced when the units carry both parameter sets; a pair the decoder
// rejects leaves none until a usable pair arrives.
void updateFormat(const std::vector<H264::Bytes>& nals, VideoFormatRef& format) {
    const auto sps = H264::firstOfType(nals, H264::sequenceParameterSet);
    const auto pps = H264::firstOfType(nals, H264::pictureParameterSet);
    if (sps && pps) format = H264::format(*sps, *pps);
}

} // namespace

// The video socket (scrcpy 5.0.1, H.264):
//
//   device name: 64 bytes (ignored)
//   codec id u32 = 0x68323634 "h264"
//   then packets: | flags and pts u64 | size u32 | payload (Annex B) |
//     first byte >= 0x80: session packet, no payload; bytes 4-7 width, 8-11 height
//     else >= 0x40: configuration packet (SPS, PPS)
//     else >= 0x20: key frame; below: other frame
//
// Runs on the start thread until the stream ends, then ends the session.
void AndroidStreamClient::readVideo(int fd, std::chrono::steady_clock::time_point startedAt) {
    if (!readExactly(fd, deviceNameBytes)) return endUnasked(u"Video stream closed early"_s);
    const auto codec = readExactly(fd, 4);
    if (!codec) return endUnasked(u"Video stream closed early"_s);
    if (const uint32_t id = readBE(*codec, 0); id != h264CodecID)
        return finish(QString::asprintf("Unsupported video codec 0x%08x", id));

    VideoFormatRef format;
    bool firstFramePending = true;
    for (;;) {
        const auto header = readExactly(fd, 12);
        if (!header) break;
        const uint8_t flags = uint8_t(header->at(0));
        if (flags >= 0x80) {
            const QSize size(int(readBE(*header, 4)), int(readBE(*header, 8)));
            {
                std::lock_guard guard(m_lock);
                m_videoSize = size;
            }
            m_log->write(u"Vantle: video session %1x%2"_s.arg(readBE(*header, 4)).arg(readBE(*header, 8)));
            postToGui([this, size] {
                if (onVideoSize) onVideoSize(size);
            });
            continue;
        }
        const uint32_t size = readBE(*header, 8);
        if (size == 0 || size > maxPacketBytes) break;
        const auto payload = readExactly(fd, qsizetype(size));
        if (!payload) break;
        const std::vector<H264::Bytes> nals = H264::nalUnits(*payload);
        updateFormat(nals, format);
        if (flags >= 0x40 || !format) continue; // parameter sets only, or nothing decodable yet

        const std::optional<VideoSample> sample = H264::sampleBuffer(nals, format);
        if (!sample) continue;
        const bool keyFrame = flags >= 0x20;
        if (keyFrame) {
            bool snapshot;
            {
                std::lock_guard guard(m_lock);
                snapshot = std::exchange(m_snapshotRequested, false);
            }
            if (snapshot) {
                if (auto image = H264::decodeImage(nals, format)) {
                    auto box = std::make_shared<ImageBox>(ImageBox{std::move(image)});
                    postToGui([this, box] {
                        if (onSnapshot) onSnapshot(box);
                    });
                }
            }
        }
        std::shared_ptr<StreamRecorder> recorder;
        {
            std::lock_guard guard(m_lock);
            recorder = m_recorder;
        }
        if (recorder) recorder->appendVideo(*sample, format, keyFrame);
        // A recording that waits for a key frame ends with this one.
        if (keyFrame) completePendingStop();

        if (m_renderer) {
            if (m_renderer->status() == VideoRenderer::Status::failed ||
                m_renderer->requiresFlushToResumeDecoding())
                m_renderer->flush();
            m_renderer->enqueue(*sample);
        }
        countFrame();
        if (firstFramePending) {
            firstFramePending = false;
            mark(&Timeline::firstFrame);
            m_log->write(QString::asprintf(
                "Vantle: first frame after %.2fs",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count()));
            postToGui([this] {
                if (onFirstFrame) onFirstFrame();
            });
        }
    }
    endUnasked(unexpectedEndText);
}

void AndroidStreamClient::countFrame() {
    ++m_framesDecoded;
    ++m_fpsFrames;
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - m_fpsWindowStart).count();
    if (elapsed < 1.0) return;
    if (VantleSettings::get(SettingsKeys::printFPS))
        m_log->write(QString::asprintf("Vantle: %.0f fps", double(m_fpsFrames) / elapsed));
    m_fpsFrames = 0;
    m_fpsWindowStart = now;
}
