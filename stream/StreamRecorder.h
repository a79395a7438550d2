#pragma once

#include "stream/H264.h"
#include "stream/SerialQueue.h"

#include <QByteArray>
#include <QString>
#include <atomic>
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
// Video time is the host clock at arrival, relative to that first key frame, in the track's 90 kHz
// ticks (a sample that would not move time forward gets the previous time + 1 ms); audio time is the host
// time of the first audio packet plus the sample count since. A video sample whose format differs from the
// file's (the display was resized) is dropped: one MP4 track has one decoder configuration.
//
// `appendVideo` runs on the video reader thread, `appendAudio` on the audio reader thread and
// `finish` on any thread. They only stamp times under a short lock and hand the work to the
// recorder's own writer thread, which encodes the sound and does all file I/O: a slow disk never
// holds up the stream. More than `maxBacklog` items waiting there drop video until the next key
// frame (the file goes on from there).
class StreamRecorder {
public:
    static constexpr int sampleRate = 48000, channels = 2, audioBitRate = 192000;
    static constexpr int maxBacklog = 600;
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
    struct VideoPacket {
        QByteArray data;
        int64_t time = 0; // 90 kHz ticks from the first key frame
        bool keyFrame = false;
    };
    enum class State { waiting, writing, finished };

    void post(std::function<void()> work);
    bool openWriter(const VideoFormat& format); // under m_lock, before the writer thread has it
    // On the writer thread.
    void writeVideo(const VideoPacket& packet, int64_t end);
    void encodeAudio(bool drain);
    void writeAudioPackets();
    std::optional<QString> endFile(std::optional<VideoPacket> last, int64_t end);

    const QString m_path;
    const Clock m_clock;

    std::mutex m_lock; // the appending threads' state
    State m_state = State::waiting;
    bool m_awaitingKeyFrame = false; // after video was dropped
    std::chrono::microseconds m_sessionStart{};
    std::optional<int64_t> m_lastVideoTime;
    std::optional<VideoPacket> m_pendingVideo; // written once its duration is known
    std::optional<int64_t> m_nextAudioSample;  // time of the next PCM frame, in samples
    QByteArray m_avcC;                         // the file's decoder configuration
    std::atomic<int> m_backlog{0};

    // Writer-thread state.
    std::unique_ptr<Writer> m_writer;
    bool m_failed = false;
    QByteArray m_pcm;             // whole frames not encoded yet (less than one encoder frame)
    int64_t m_pcmFirstSample = 0; // the time of m_pcm's first frame

    SerialQueue m_queue; // last: joined before the state above goes
};
