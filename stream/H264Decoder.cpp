#include "stream/H264Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <cstring>

std::unique_ptr<H264Decoder> H264Decoder::open(const VideoFormat& format, Threads threads) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec || format.avcC.isEmpty()) return nullptr;
    std::unique_ptr<H264Decoder> decoder(new H264Decoder);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context) return nullptr;
    decoder->m_context = context;
    // libavcodec reads the extradata with its own bit reader and may look a little past the end.
    const auto size = size_t(format.avcC.size());
    context->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context->extradata) return nullptr;
    std::memcpy(context->extradata, format.avcC.constData(), size);
    context->extradata_size = int(size);
    // Without "explode" a broken SPS or PPS in the extradata is only a warning.
    context->err_recognition |= AV_EF_EXPLODE;
    // Every picture leaves the decoder the moment it is complete; frame threading would hold
    // pictures back by one frame per thread.
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = threads == Threads::slices ? 2 : 1;
    if (avcodec_open2(context, codec, nullptr) < 0) return nullptr;
    decoder->m_packet = av_packet_alloc();
    decoder->m_frame = av_frame_alloc();
    decoder->m_received = av_frame_alloc();
    if (!decoder->m_packet || !decoder->m_frame || !decoder->m_received) return nullptr;
    return decoder;
}

H264Decoder::~H264Decoder() {
    av_frame_free(&m_received);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_context);
}

H264Decoder::Result H264Decoder::decode(const QByteArray& sample, Drain drain) {
    if (sample.isEmpty()) return Result::noPicture;
    // libavcodec reads a little past the end of packet data and wants zeroed padding there, which
    // a QByteArray does not promise: the sample is copied into a padded packet (the one copy into
    // decoder memory per frame).
    if (av_new_packet(m_packet, int(sample.size())) < 0) return Result::error;
    std::memcpy(m_packet->data, sample.constData(), size_t(sample.size()));
    const int sent = avcodec_send_packet(m_context, m_packet);
    av_packet_unref(m_packet);
    if (sent < 0 && sent != AVERROR(EAGAIN)) return Result::error;
    if (drain == Drain::yes) avcodec_send_packet(m_context, nullptr);
    Result result = Result::noPicture;
    while (avcodec_receive_frame(m_context, m_received) == 0) {
        if (m_received->decode_error_flags != 0 || (m_received->flags & AV_FRAME_FLAG_CORRUPT)) {
            av_frame_unref(m_received);
            result = Result::error;
            continue;
        }
        av_frame_unref(m_frame);
        av_frame_move_ref(m_frame, m_received);
        if (result != Result::error) result = Result::picture;
    }
    return result;
}

void H264Decoder::flush() {
    avcodec_flush_buffers(m_context);
    av_frame_unref(m_frame);
}

QImage H264Decoder::toImage(const AVFrame* frame) {
    if (!frame || frame->width <= 0 || frame->height <= 0) return {};
    // swscale's vector code may write up to a vector's width past the last pixel of a row, so the
    // pixels live in a padded buffer of our own that the image frees.
    const qsizetype stride = (qsizetype(frame->width) * 4 + 63) & ~qsizetype(63);
    auto* pixels = static_cast<uchar*>(av_malloc(size_t(stride) * size_t(frame->height) + 256));
    if (!pixels) return {};
    QImage image(pixels, frame->width, frame->height, stride, QImage::Format_RGB32, av_free, pixels);
    // Format_RGB32 is 0xffRRGGBB in native byte order: B, G, R, A in memory on little-endian hosts.
    const auto target = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
    SwsContext* scaler =
        sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width, frame->height,
                       target, SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler) return {};
    uint8_t* planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int strides[4] = {int(stride), 0, 0, 0};
    const int rows = sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(scaler);
    return rows == frame->height ? image : QImage();
}
