#include "sim/server/H264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <stdexcept>
#include <string>

H264Encoder::H264Encoder(int width, int height, int fps, int bitRate)
    : m_width(width)
    , m_height(height) {
    av_log_set_level(AV_LOG_ERROR); // x264's banner and statistics would end up in the server's output
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) throw std::runtime_error("libx264 encoder not available");
    m_context = avcodec_alloc_context3(codec);
    m_context->width = width;
    m_context->height = height;
    m_context->pix_fmt = AV_PIX_FMT_YUV420P;
    m_context->time_base = AVRational{1, std::max(1, fps)};
    m_context->framerate = AVRational{std::max(1, fps), 1};
    m_context->bit_rate = bitRate;
    m_context->max_b_frames = 0;
    m_context->gop_size = std::max(1, fps) * 10; // a key frame every 10 s, or on request
    m_context->thread_count = 2;
    m_context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(m_context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(m_context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(m_context->priv_data, "profile", "baseline", 0);
    av_opt_set(m_context->priv_data, "forced-idr", "1", 0);
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        avcodec_free_context(&m_context);
        throw std::runtime_error("libx264 refused " + std::to_string(width) + "x" + std::to_string(height));
    }
    m_frame = av_frame_alloc();
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = width;
    m_frame->height = height;
    av_frame_get_buffer(m_frame, 32);
    m_packet = av_packet_alloc();
    m_scaler = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P, SWS_POINT,
                              nullptr, nullptr, nullptr);
}

H264Encoder::~H264Encoder() {
    sws_freeContext(m_scaler);
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

QByteArray H264Encoder::parameterSets() const {
    return QByteArray(reinterpret_cast<const char*>(m_context->extradata), m_context->extradata_size);
}

std::vector<EncodedFrame> H264Encoder::encode(const ScreenImage& image, int64_t frameIndex, bool forceKey) {
    std::vector<EncodedFrame> out;
    if (image.width != m_width || image.height != m_height) return out;
    av_frame_make_writable(m_frame);
    const uint8_t* source[1] = {reinterpret_cast<const uint8_t*>(image.pixels.data())};
    const int stride[1] = {image.width * 4};
    sws_scale(m_scaler, source, stride, 0, m_height, m_frame->data, m_frame->linesize);
    m_frame->pts = frameIndex;
    m_frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(m_context, m_frame) < 0) return out;
    while (avcodec_receive_packet(m_context, m_packet) == 0) {
        out.push_back({QByteArray(reinterpret_cast<const char*>(m_packet->data), m_packet->size),
                       (m_packet->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(m_packet);
    }
    return out;
}
