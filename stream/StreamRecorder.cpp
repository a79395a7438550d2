#include "stream/StreamRecorder.h"

#include <QFile>
#include <QtEndian>
#include <cstring>
#include <future>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

constexpr AVRational microseconds{1, 1'000'000};
constexpr AVRational videoTimeBase{1, 90'000}; // video times are kept in these ticks
constexpr int64_t videoTicksPerMs = 90;
constexpr qsizetype bytesPerFrame = 4; // s16 left, s16 right
constexpr std::chrono::microseconds maxInterleaveDelay = 500ms;

std::chrono::microseconds hostNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

// The libav objects of one open file, used on the writer thread only. Only made whole: a writer
// that failed to start is dropped.
struct StreamRecorder::Writer {
    AVFormatContext* container = nullptr;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    AVCodecContext* aac = nullptr;
    AVFrame* audioFrame = nullptr;
    AVPacket* videoPacket = nullptr;
    AVPacket* audioPacket = nullptr;
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
    , m_clock(std::move(clock))
    , m_queue(u"vantle.recording"_s) {}

StreamRecorder::~StreamRecorder() {
    finish();
}

void StreamRecorder::post(std::function<void()> work) {
    ++m_backlog;
    m_queue.post([this, work = std::move(work)] {
        work();
        --m_backlog;
    });
}

bool StreamRecorder::openWriter(const VideoFormat& format) {
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

    // Packets wait in the muxer to be interleaved by time; without sound (forwarding off) the
    // default would hold 10 s of video in memory.
    writer->container->max_interleave_delta = maxInterleaveDelay.count();
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
    if (m_state == State::finished || !format) return;
    if (m_state == State::waiting) {
        // The file starts with a key frame. The writer thread has nothing yet: the writer is made
        // here, once, and handed over with the first work item.
        if (!keyFrame || !openWriter(*format)) return; // a failed start tries again at the next one
        m_state = State::writing;
        m_sessionStart = now;
        m_avcC = format->avcC;
    } else if (format->avcC != m_avcC) {
        return;
    }
    if (m_backlog.load() > maxBacklog) m_awaitingKeyFrame = true; // the disk does not keep up
    if (m_awaitingKeyFrame && !keyFrame) return;
    m_awaitingKeyFrame = false;
    // On the track's own clock: two samples closer than one of its ticks would otherwise share a time.
    int64_t time = av_rescale_q((now - m_sessionStart).count(), microseconds, videoTimeBase);
    if (m_lastVideoTime && time <= *m_lastVideoTime) time = *m_lastVideoTime + videoTicksPerMs;
    m_lastVideoTime = time;
    if (m_pendingVideo) post([this, packet = std::move(*m_pendingVideo), time] { writeVideo(packet, time); });
    m_pendingVideo = VideoPacket{sample.data, time, keyFrame};
}

void StreamRecorder::writeVideo(const VideoPacket& video, int64_t end) {
    if (!m_writer || m_failed) return;
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
    packet->pts = packet->dts = av_rescale_q(video.time, videoTimeBase, timeBase);
    packet->duration = av_rescale_q(end, videoTimeBase, timeBase) - packet->pts;
    if (video.keyFrame) packet->flags |= AV_PKT_FLAG_KEY;
    packet->stream_index = m_writer->video->index;
    if (av_interleaved_write_frame(m_writer->container, packet) < 0) m_failed = true;
    av_packet_unref(packet);
}

void StreamRecorder::appendAudio(const QByteArray& pcm) {
    const qsizetype frames = pcm.size() / bytesPerFrame;
    if (frames == 0) return;
    const std::chrono::microseconds now = m_clock();
    std::lock_guard guard(m_lock);
    if (m_state != State::writing) return; // no file yet: sound before the first key frame goes
    if (!m_nextAudioSample)
        m_nextAudioSample = av_rescale_q((now - m_sessionStart).count(), microseconds, {1, sampleRate});
    const int64_t first = std::exchange(*m_nextAudioSample, *m_nextAudioSample + frames);
    post([this, pcm = pcm.left(frames * bytesPerFrame), first] {
        if (!m_writer || m_failed) return;
        if (m_pcm.isEmpty()) m_pcmFirstSample = first;
        m_pcm.append(pcm);
        encodeAudio(false);
    });
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
        frame->pts = m_pcmFirstSample;
        m_pcmFirstSample += count;
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
        if (!m_failed && av_interleaved_write_frame(m_writer->container, packet) < 0) m_failed = true;
        av_packet_unref(packet);
    }
}

std::optional<QString> StreamRecorder::finish() {
    std::optional<VideoPacket> last;
    int64_t end = 0;
    {
        std::lock_guard guard(m_lock);
        if (std::exchange(m_state, State::finished) == State::finished) return std::nullopt;
        last = std::exchange(m_pendingVideo, std::nullopt);
        end = av_rescale_q((m_clock() - m_sessionStart).count(), microseconds, videoTimeBase);
    }
    // After everything posted before: the writer thread ends the file, or finds none.
    std::promise<std::optional<QString>> result;
    post([&] { result.set_value(endFile(std::move(last), end)); });
    return result.get_future().get();
}

std::optional<QString> StreamRecorder::endFile(std::optional<VideoPacket> last, int64_t end) {
    if (!m_writer) return std::nullopt; // no key frame came, or the writer never started
    encodeAudio(true);
    if (last) writeVideo(*last, std::max(end, last->time + videoTicksPerMs));
    const bool trailer = av_write_trailer(m_writer->container) >= 0;
    const bool closed = avio_closep(&m_writer->container->pb) >= 0;
    m_writer.reset();
    if (m_failed || !trailer || !closed) return std::nullopt;
    return m_path;
}
