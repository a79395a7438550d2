#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

// A PulseAudio daemon of the program's own with a null sink whose monitor `parec` records all along
// (so the sink runs a few milliseconds ahead, not seconds): each frame played can be looked up with
// its time. Qt connects once per process, through PULSE_SERVER: the whole program shares it.
class PulseAudioServer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int sampleRate = 48000;
    static constexpr const char* sinkDescription = "Vantle test sink";

    // Started on first call; null when it failed (`unavailable()`: pulseaudio is not installed).
    static PulseAudioServer* shared();
    static bool unavailable();
    static QString startError();

    ~PulseAudioServer();

    qint64 recordedFrames() const;
    // The left channel of monitor frames [from, to), as far as recorded.
    std::vector<qint16> left(qint64 from, qint64 to) const;
    // When monitor frame `frame` was played: offset + n / rate, the offset being the smallest seen
    // between a chunk's delivery and the end of its frames (delivery delays only add).
    Clock::time_point timeOf(qint64 frame) const;
    // The first monitor frame played at or after `time`.
    qint64 frameAt(Clock::time_point time) const;
    // Waits until the monitor has recorded up to `time`; false when it stalls for seconds.
    bool recordedUntil(Clock::time_point time) const;

private:
    PulseAudioServer() = default;
    QString start();
    void record(const QString& log);

    QTemporaryDir m_folder;
    QProcess m_daemon;
    std::atomic<bool> m_stopping = false;
    std::thread m_reader;
    mutable std::mutex m_lock;
    std::vector<qint16> m_left;
    QByteArray m_partial;
    Clock::duration m_offset = Clock::duration::max();
};

// Spans of sound separated by silence (runs of zero samples; the tone never has two in a row).
struct SoundSpan {
    qint64 start = 0, end = 0; // monitor frames [start, end)
    qint64 frames() const { return end - start; }
};
std::vector<SoundSpan> soundSpans(const std::vector<qint16>& samples, qint64 firstFrame,
                                  int minSilenceFrames = 48);

// The simulated device's 440 Hz tone in 20 ms packets, a quarter sample out of phase: no sample is zero.
struct ToneSource {
    static constexpr int packetFrames = 960;
    qint64 frame = 0;
    QByteArray next();
};

// One PCM packet handed to the player: when, how many frames, and whether it was taken.
struct Arrival {
    PulseAudioServer::Clock::time_point at;
    qint64 frames = 0;
    bool accepted = true;
};

// What the monitor heard against the jitter buffer's rules, on the sink's clock: every accepted frame
// is heard once; sound starts (and resumes) only with 60 ms queued; silence comes only when nothing
// arrived 40 ms before it is left; a drop needs half the drop threshold queued (a player that
// underestimates what the sink played drops with far less).
struct SoundReport {
    std::vector<SoundSpan> spans;
    QStringList violations;
    std::string describe() const;
};
SoundReport checkAgainstRules(const PulseAudioServer& server, qint64 firstFrame,
                              const std::vector<qint16>& heard, const std::vector<Arrival>& arrivals);
