#include "stream/FrameRenderer.h"

#include "stream/H264Decoder.h"

extern "C" {
#include <libavutil/frame.h>
}

FrameRenderer::FrameRenderer() = default;
FrameRenderer::~FrameRenderer() = default;

void FrameRenderer::setFrameReady(std::function<void()> frameReady) {
    std::lock_guard guard(m_lock);
    m_frameReady = std::move(frameReady);
}

void FrameRenderer::push(const VideoSample& sample, bool keyFrame) {
    if (!sample.format) return;
    if (m_status == Status::failed) {
        if (!keyFrame) return; // refers to pictures the decoder lost
        m_status = Status::idle;
    }
    // A new SPS/PPS pair (a new video session, or sets repeated in-band) gets a fresh decoder only
    // when the record differs: the server repeats identical sets before key frames.
    if (!m_decoder || !m_decoderFormat || m_decoderFormat->avcC != sample.format->avcC) {
        m_decoder = H264Decoder::open(*sample.format, H264Decoder::Threads::slices);
        m_decoderFormat = m_decoder ? sample.format : nullptr;
        if (!m_decoder) return fail();
    }
    switch (m_decoder->decode(sample.data)) {
    case H264Decoder::Result::error:
        return fail();
    case H264Decoder::Result::noPicture:
        return; // waiting for a key frame after a flush, or a unit without a picture
    case H264Decoder::Result::picture:
        break;
    }
    AVFrame* copy = av_frame_clone(m_decoder->frame()); // a new reference, not a pixel copy
    if (!copy) return fail();
    m_status = Status::rendering;
    publish(VideoFrame(copy, [](const AVFrame* frame) {
        auto* owned = const_cast<AVFrame*>(frame);
        av_frame_free(&owned);
    }));
}

void FrameRenderer::fail() {
    if (m_decoder) m_decoder->flush();
    m_status = Status::failed;
    std::lock_guard guard(m_lock);
    ++m_counts.errors;
}

void FrameRenderer::publish(VideoFrame frame) {
    std::function<void()> notify;
    {
        std::lock_guard guard(m_lock);
        ++m_counts.decoded;
        if (m_mailbox)
            ++m_counts.replaced;
        else
            notify = m_frameReady;
        m_mailbox = std::move(frame);
    }
    // Outside the lock: the callback may post to another thread, which may take the frame at once.
    if (notify) notify();
}

VideoFrame FrameRenderer::takeFrame() {
    std::lock_guard guard(m_lock);
    return std::exchange(m_mailbox, nullptr);
}

FrameRenderer::Counts FrameRenderer::counts() const {
    std::lock_guard guard(m_lock);
    return m_counts;
}
