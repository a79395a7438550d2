#pragma once

#include "stream/StreamStages.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class VantleLog;

// The video socket (scrcpy 5.0.1, H.264) turned into samples for a list of sinks:
//
//   device name: 64 bytes (ignored)
//   codec id u32 = 0x68323634 "h264"
//   then packets: | flags and pts u64 | size u32 | payload (Annex B) |
//     first byte >= 0x80: session packet, no payload; bytes 4-7 width, 8-11 height
//     else >= 0x40: configuration packet (SPS, PPS)
//     else >= 0x20: key frame; below: other frame
//
// The current format is replaced whenever a packet carries both parameter sets; a pair the decoder
// rejects leaves none, and media packets are dropped until a usable pair arrives. Logs the video
// sessions, the first frame and (with "VantlePrintFPS") the frame rate.
class VideoReader {
public:
    struct Events {
        std::function<void(QSize)> session; // a session packet's display size
        std::function<void()> firstFrame;   // once, after the sinks got the first sample
    };
    VideoReader(std::vector<VideoSink*> sinks, Events events, VantleLog& log);

    // How the stream ended: before its header was whole, at a codec other than H.264 (`codec`), or
    // after the header (closed, broken or an impossible packet size).
    struct End {
        enum Kind { closedEarly, unsupportedCodec, ended } kind;
        uint32_t codec = 0;
    };
    // Reads `fd` to its end on the calling thread.
    End read(int fd, std::chrono::steady_clock::time_point startedAt);

private:
    void countFrame();

    const std::vector<VideoSink*> m_sinks;
    const Events m_events;
    VantleLog& m_log;
    uint64_t m_fpsFrames = 0;
    std::chrono::steady_clock::time_point m_fpsWindowStart;
};

// The video stage that turns the next key frame after a request into a still image.
class SnapshotTaker final : public VideoSink {
public:
    // `still` runs on the reader thread with the decoded picture (nothing when it did not decode).
    explicit SnapshotTaker(std::function<void(std::optional<QImage>)> still)
        : m_still(std::move(still)) {}
    void request() { m_requested = true; } // any thread
    void push(const VideoSample& sample, bool keyFrame) override;

private:
    const std::function<void(std::optional<QImage>)> m_still;
    std::atomic<bool> m_requested{false};
};
