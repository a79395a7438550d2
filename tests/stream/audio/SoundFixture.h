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

// A PulseAudio daemon of the test program's own (own folders and socket, a null sink, an idle exit
// as a safety net) whose sink monitor `parec` records all along: the sink then runs a few
// milliseconds ahead (an idle null sink renders seconds ahead), and each frame it played can be
// looked up with the time it was played. Qt's PulseAudio client connects once per process, through
// PULSE_SERVER, so the daemon is shared by the whole program.
class PulseAudioServer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int sampleRate = 48000;
    static constexpr const char* sinkDescription = "Vantle test sink";

    // The program's daemon, started on first call. Null when it is not there: `unavailable()`
    // tells whether pulseaudio is not installed at all, `startError()` what went wrong.
    static PulseAudioServer* shared();
    static bool unavailable();
    static QString startError();

    ~PulseAudioServer();

    qint64 recordedFrames() const;
    // The left channel of monitor frames [from, to), as far as recorded.
    std::vector<qint16> left(qint64 from, qint64 to) const;
    // When monitor frame `frame` was played: the sink's sample clock is steady, so frame n is
    // played at offset + n / rate, the offset being the smallest seen between a chunk's delivery
    // and the end of its frames (delivery delays only add).
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

// What played on the sink: spans of sound separated by silence (runs of zero samples; a tone
// never has two zero samples in a row).
struct SoundSpan {
    qint64 start = 0, end = 0; // monitor frames [start, end)
    qint64 frames() const { return end - start; }
};
std::vector<SoundSpan> soundSpans(const std::vector<qint16>& samples, qint64 firstFrame,
                                  int minSilenceFrames = 48);

// A 440 Hz tone like the simulated device's (amplitude 8000, both channels, 20 ms packets), a
// quarter of a sample out of phase so that no sample is zero: silence on the monitor is then
// unambiguous.
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

// What the monitor heard, held against the jitter buffer's rules, by the order of arrivals and
// sound on the sink's clock (how long a packet took is the latency benchmark's business):
// - every accepted frame is heard once, in order, and nothing else;
// - sound starts, and resumes after silence, only once 60 ms are queued (accepted, not yet heard);
// - sound stops only when nothing is left: what arrived 40 ms before the silence was heard before it;
// - a packet is dropped only with more than half the drop threshold queued (a player that took the
//   sink's report of what it played for less than it is drops with far less queued).
struct SoundReport {
    std::vector<SoundSpan> spans;
    QStringList violations;
    std::string describe() const;
};
SoundReport checkAgainstRules(const PulseAudioServer& server, qint64 firstFrame,
                              const std::vector<qint16>& heard, const std::vector<Arrival>& arrivals);
