#include "stream/StreamRecorder.h"

#include <QFile>
#include <QtEndian>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

using namespace std::chrono_literals;

namespace {

constexpr AVRational microseconds{1, 1'000'000};
constexpr AVRational videoTimeBase{1, 90'000};
constexpr qsizetype bytesPerFrame = 4; // s16 left, s16 right

std::chrono::microseconds hostNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

// The libav objects of one open file. Only made whole: a writer that failed to start is dropped.
struct StreamRecorder::Writer {
    AVFormatContext* container = nullptr;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    AVCodecContext* aac = nullptr;
    AVFrame* audioFrame = nullptr;
    AVPacket* videoPacket = nullptr; // used under m_lock
    AVPacket* audioPacket = nullptr; // used under m_audioLock
    QByteArray avcC;

    ~Writer() {
        if (container) {
            if (container->pb) avio_closep(&container->pb);
            avformat_free_context(container);
        }
        avcodec_free_context(&aac);
        av_frame_free(&audioFrame);
        av_packet_free(&videoPacket);
        av_packet_free(&audioPacket);
    }
};

StreamRecorder::StreamRecorder(QString path)
    : StreamRecorder(std::move(path), hostNow) {}

StreamRecorder::StreamRecorder(QString path, Clock clock)
    : m_path(std::move(path))
    , m_clock(std::move(clock)) {}

StreamRecorder::~StreamRecorder() {
    finish();
}

bool StreamRecorder::startWriter(const VideoFormat& format) {
    QFile::remove(m_path); // a stale file of the same name, never appended to
    auto writer = std::make_unique<Writer>();
    const QByteArray file = QFile::encodeName(m_path);
    if (avformat_alloc_output_context2(&writer->container, nullptr, "mp4", file.constData()) < 0)
        return false;

    writer->video = avformat_new_stream(writer->container, nullptr);
    if (!writer->video) return false;
    AVCodecParameters* video = writer->video->codecpar;
    video->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codec_id = AV_CODEC_ID_H264;
    video->width = format.width;
    video->height = format.height;
    video->extradata =
        static_cast<uint8_t*>(av_mallocz(size_t(format.avcC.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!video->extradata) return false;
    std::memcpy(video->extradata, format.avcC.constData(), size_t(format.avcC.size()));
    video->extradata_size = int(format.avcC.size());
    writer->video->time_base = videoTimeBase;
    writer->avcC = format.avcC;

    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec || !(writer->aac = avcodec_alloc_context3(codec))) return false;
    AVCodecContext* aac = writer->aac;
    aac->sample_fmt = AV_SAMPLE_FMT_FLTP;
    aac->sample_rate = sampleRate;
    av_channel_layout_default(&aac->ch_layout, channels);
    aac->bit_rate = audioBitRate;
    aac->time_base = {1, sampleRate};
    if (writer->container->oformat->flags & AVFMT_GLOBALHEADER) aac->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(aac, codec, nullptr) < 0) return false;
    writer->audio = avformat_new_stream(writer->container, nullptr);
    if (!writer->audio || avcodec_parameters_from_context(writer->audio->codecpar, aac) < 0) return false;
    writer->audio->time_base = aac->time_base;

    writer->audioFrame = av_frame_alloc();
    writer->videoPacket = av_packet_alloc();
    writer->audioPacket = av_packet_alloc();
    if (!writer->audioFrame || !writer->videoPacket || !writer->audioPacket) return false;
    AVFrame* frame = writer->audioFrame;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = sampleRate;
    frame->nb_samples = aac->frame_size;
    if (av_channel_layout_copy(&frame->ch_layout, &aac->ch_layout) < 0 || av_frame_get_buffer(frame, 0) < 0)
        return false;

    if (avio_open(&writer->container->pb, file.constData(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(writer->container, nullptr) < 0) {
        writer.reset();
        QFile::remove(m_path);
        return false;
    }
    m_writer = std::move(writer);
    return true;
}

void StreamRecorder::appendVideo(const VideoSample& sample, const VideoFormatRef& format, bool keyFrame) {
    const std::chrono::microseconds now = m_clock();
    std::lock_guard guard(m_lock);
    if (m_finished || m_failed || !format) return;
    if (!m_writer) {
        if (!keyFrame || !startWriter(*format)) return; // a failed start tries again at the next key frame
        m_sessionStart = now;
    } else if (format->avcC != m_writer->avcC) {
        return;
    }
    std::chrono::microseconds time = now - m_sessionStart;
    if (m_lastVideoTime && time <= *m_lastVideoTime) time = *m_lastVideoTime + 1ms;
    m_lastVideoTime = time;
    if (m_pendingVideo) writeVideo(*m_pendingVideo, time);
    m_pendingVideo = PendingVideo{sample.data, time, keyFrame};
}

void StreamRecorder::writeVideo(const PendingVideo& video, std::chrono::microseconds end) {
    AVPacket* packet = m_writer->videoPacket;
    // The packet shares the sample's bytes (no copy on the reader thread): the buffer keeps a
    // reference to them until the muxer has written it.
    auto* owner = new QByteArray(video.data);
    packet->buf = av_buffer_create(
        reinterpret_cast<uint8_t*>(const_cast<char*>(owner->constData())), size_t(owner->size()),
        [](void* bytes, uint8_t*) { delete static_cast<QByteArray*>(bytes); }, owner,
        AV_BUFFER_FLAG_READONLY);
    if (!packet->buf) {
        delete owner;
        m_failed = true;
        return;
    }
    packet->data = packet->buf->data;
    packet->size = int(owner->size());
    const AVRational timeBase = m_writer->video->time_base;
    packet->pts = packet->dts = av_rescale_q(video.time.count(), microseconds, timeBase);
    packet->duration = av_rescale_q(end.count(), microseconds, timeBase) - packet->pts;
    if (video.keyFrame) packet->flags |= AV_PKT_FLAG_KEY;
    packet->stream_index = m_writer->video->index;
    if (av_interleaved_write_frame(m_writer->container, packet) < 0) m_failed = true;
    av_packet_unref(packet);
}

void StreamRecorder::appendAudio(const QByteArray& pcm) {
    if (pcm.size() < bytesPerFrame) return;
    const std::chrono::microseconds now = m_clock();
    std::lock_guard audioGuard(m_audioLock);
    {
        std::lock_guard guard(m_lock);
        if (m_finished || m_failed || !m_writer) return;
        if (!m_nextAudioSample)
            m_nextAudioSample = av_rescale_q((now - m_sessionStart).count(), microseconds, {1, sampleRate});
    }
    // From here the writer stays: only `finish`, which takes the audio lock first, ends it.
    m_pcm.append(pcm.constData(), pcm.size() / bytesPerFrame * bytesPerFrame);
    encodeAudio(false);
}

void StreamRecorder::encodeAudio(bool drain) {
    AVCodecContext* aac = m_writer->aac;
    AVFrame* frame = m_writer->audioFrame;
    const qsizetype frameBytes = qsizetype(aac->frame_size) * bytesPerFrame;
    qsizetype offset = 0;
    while (m_pcm.size() - offset >= frameBytes || (drain && m_pcm.size() > offset)) {
        const int count = int(std::min(m_pcm.size() - offset, frameBytes) / bytesPerFrame);
        if (av_frame_make_writable(frame) < 0) break;
        frame->nb_samples = count;
        const auto* in = reinterpret_cast<const uchar*>(m_pcm.constData() + offset);
        auto* left = reinterpret_cast<float*>(frame->data[0]);
        auto* right = reinterpret_cast<float*>(frame->data[1]);
        for (int i = 0; i < count; ++i, in += bytesPerFrame) {
            left[i] = float(qFromLittleEndian<qint16>(in)) / 32768.0f;
            right[i] = float(qFromLittleEndian<qint16>(in + 2)) / 32768.0f;
        }
        frame->pts = *m_nextAudioSample;
        *m_nextAudioSample += count;
        offset += qsizetype(count) * bytesPerFrame;
        if (avcodec_send_frame(aac, frame) < 0) break;
        writeAudioPackets();
    }
    m_pcm.remove(0, offset);
    if (drain && avcodec_send_frame(aac, nullptr) >= 0) writeAudioPackets();
}

void StreamRecorder::writeAudioPackets() {
    AVPacket* packet = m_writer->audioPacket;
    while (avcodec_receive_packet(m_writer->aac, packet) == 0) {
        av_packet_rescale_ts(packet, m_writer->aac->time_base, m_writer->audio->time_base);
        packet->stream_index = m_writer->audio->index;
        std::lock_guard guard(m_lock);
        if (!m_failed && av_interleaved_write_frame(m_writer->container, packet) < 0) m_failed = true;
        av_packet_unref(packet);
    }
}

std::optional<QString> StreamRecorder::finish() {
    std::lock_guard audioGuard(m_audioLock);
    {
        std::lock_guard guard(m_lock);
        if (std::exchange(m_finished, true) || !m_writer) return std::nullopt;
    }
    // Finished: the video thread appends nothing more, and the audio thread waits for the audio lock.
    if (m_nextAudioSample) encodeAudio(true);
    std::lock_guard guard(m_lock);
    const std::chrono::microseconds end = m_clock() - m_sessionStart;
    if (m_pendingVideo) writeVideo(*m_pendingVideo, std::max(end, m_pendingVideo->time + 1ms));
    m_pendingVideo.reset();
    const bool trailer = av_write_trailer(m_writer->container) >= 0;
    const bool closed = avio_closep(&m_writer->container->pb) >= 0;
    m_writer.reset();
    if (m_failed || !trailer || !closed) return std::nullopt;
    return m_path;
}
