#include "stream/H264Decoder.h"

#include "stream/ImageConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
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
    ImageConverter converter;
    return converter.convert(frame); // the copy outlives the converter and owns the pixels
}
