#pragma once

#include "stream/H264.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// One screen recording: an MP4 file holding the stream's own H.264 samples as they are (no
// re-encoding; the avcC of the format the first key frame came with) and the stream's PCM encoded
// to AAC (libavcodec's native encoder, 48000 Hz, stereo, 192 kbit/s).
//
// Nothing happens on disk until the first key frame: then a stale file at the path is deleted and
// the writer starts, so the file always begins with a key frame and audio before it is dropped.
// Video time is the host clock at arrival, relative to that first key frame (a sample that would
// not move time forward gets the previous time + 1 ms); audio time is the host time of the first
// audio packet plus the sample count since. A video sample whose format differs from the file's
// (the display was resized) is dropped: one MP4 track has one decoder configuration.
//
// `appendVideo` runs on the video reader thread, `appendAudio` on the audio reader thread and
// `finish` on any thread; the AAC encoding runs outside the lock the video thread takes.
class StreamRecorder {
public:
    static constexpr int sampleRate = 48000, channels = 2, audioBitRate = 192000;
    // The host clock; replaced by tests to make ties happen on purpose.
    using Clock = std::function<std::chrono::microseconds()>;

    explicit StreamRecorder(QString path);
    StreamRecorder(QString path, Clock clock);
    // Finishes the file if nobody did, so a dropped recorder still leaves a playable file.
    ~StreamRecorder();
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    QString path() const { return m_path; }
    void appendVideo(const VideoSample& sample, const VideoFormatRef& format, bool keyFrame);
    // Signed 16-bit little-endian stereo frames (4 bytes each); a trailing partial frame is dropped.
    void appendAudio(const QByteArray& pcm);
    // Ends the file: the path when a playable file was written, nothing when no key frame ever
    // came or the writer failed. Blocking (writes the trailer); a second call returns nothing.
    std::optional<QString> finish();

private:
    struct Writer;
    struct PendingVideo {
        QByteArray data;
        std::chrono::microseconds time{};
        bool keyFrame = false;
    };

    bool startWriter(const VideoFormat& format);                               // m_lock held
    void writeVideo(const PendingVideo& video, std::chrono::microseconds end); // m_lock held
    void encodeAudio(bool drain);                                              // m_audioLock held
    void writeAudioPackets();                                                  // m_audioLock held

    const QString m_path;
    const Clock m_clock;

    // Lock order: m_audioLock, then m_lock.
    std::mutex m_audioLock;                   // the AAC encoder and what waits for it
    QByteArray m_pcm;                         // whole frames not encoded yet (less than one encoder frame)
    std::optional<int64_t> m_nextAudioSample; // time of the next PCM frame, in samples from the start

    std::mutex m_lock; // the writer and the video state
    std::unique_ptr<Writer> m_writer;
    bool m_finished = false;
    bool m_failed = false;
    std::chrono::microseconds m_sessionStart{};
    std::optional<std::chrono::microseconds> m_lastVideoTime;
    std::optional<PendingVideo> m_pendingVideo; // written when its duration is known
};
