#pragma once

#include "stream/StreamStages.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

struct AVFrame;
class H264Decoder;

// A decoded picture in the decoder's own planes (YUV 4:2:0), shared by reference: handing it to
// the GUI thread copies no pixels.
using VideoFrame = std::shared_ptr<const AVFrame>;

// The libavcodec renderer behind a video view, the video reader's display stage. Decodes in
// `push`, on the reader thread, and leaves the newest picture in a one-frame mailbox for the GUI
// thread: a picture that arrives before the previous one was taken replaces it (and is counted as
// dropped), so the screen never lags behind the stream. Time stamps play no part. A sample the
// decoder refuses flushes it, and samples are skipped until the next key frame resumes decoding.
class FrameRenderer final : public VideoSink {
public:
    FrameRenderer();
    ~FrameRenderer() override;
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    // Called on the reader thread when the mailbox goes from empty to full; the consumer then
    // takes the frame on its own thread (it is not told again until it did).
    void setFrameReady(std::function<void()> frameReady);

    enum class Status { idle, rendering, failed }; // failed: waiting for a key frame
    Status status() const { return m_status.load(); }
    void push(const VideoSample& sample, bool keyFrame) override;

    // Any thread: the newest decoded picture not taken yet, or nothing.
    VideoFrame takeFrame();

    struct Counts {
        std::uint64_t decoded = 0;  // pictures that came out of the decoder
        std::uint64_t replaced = 0; // pictures dropped from the mailbox by a newer one
        std::uint64_t errors = 0;   // samples the decoder refused, and decoders that failed to open
    };
    Counts counts() const;

private:
    void publish(VideoFrame frame);
    void fail();

    // Reader-thread state.
    std::unique_ptr<H264Decoder> m_decoder;
    VideoFormatRef m_decoderFormat;

    std::atomic<Status> m_status{Status::idle};

    mutable std::mutex m_lock; // guards the mailbox, the callback and the counts
    VideoFrame m_mailbox;
    std::function<void()> m_frameReady;
    Counts m_counts;
};
