#pragma once

#include "stream/H264.h"

#include <QImage>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// One libavcodec H.264 decoder configured from a format's avcC record, so it takes the
// length-prefixed samples of `H264::sampleBuffer` as they are. Not thread-safe: one owner thread.
class H264Decoder {
public:
    enum class Threads { one, slices };
    enum class Result { picture, noPicture, error };

    // Nothing when libavcodec refuses the parameter sets (errors are fatal while opening).
    static std::unique_ptr<H264Decoder> open(const VideoFormat& format, Threads threads);
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    // Decodes one access unit. After `picture`, `frame()` holds the newest picture until the next
    // call. With `drain` the decoder is also told that no more input follows (one-off decoders).
    enum class Drain { no, yes };
    Result decode(const QByteArray& sample, Drain drain = Drain::no);
    // Forgets reference pictures and queued output; decoding resumes at the next key frame.
    void flush();
    const AVFrame* frame() const { return m_frame; }

    // The picture as 32-bit 0xffRRGGBB pixels (QImage::Format_RGB32).
    static QImage toImage(const AVFrame* frame);

private:
    H264Decoder() = default;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    AVFrame* m_received = nullptr;
};
