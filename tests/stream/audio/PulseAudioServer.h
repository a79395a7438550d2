#pragma once

#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

// A PulseAudio daemon of the test program's own: its own runtime, state and config folders and
// socket in a temporary folder, no default script (only a null sink and the native protocol on that
// socket), an idle exit as a safety net, killed when the program ends. `parec` records the null
// sink's monitor for the daemon's whole life, so that the sink runs with a few milliseconds of
// latency from the first test on (an idle null sink renders seconds ahead) and every frame the sink
// played can be looked up with the time it was played.
//
// This process's PulseAudio client (Qt Multimedia's QAudioSink) is pointed at the daemon through
// PULSE_SERVER before first use; Qt connects once per process, so the daemon is shared by the
// whole program.
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
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    // Monitor frames recorded so far.
    qint64 recordedFrames() const;
    // The left channel of monitor frames [from, to), as far as recorded.
    std::vector<qint16> left(qint64 from, qint64 to) const;
    // When monitor frame `frame` was played: the sink's sample clock is steady, so frame n
    // is played at offset + n / rate, the offset being the smallest seen between a chunk's
    // delivery and the end of its frames (delivery delays only add).
    Clock::time_point timeOf(qint64 frame) const;
    // The first monitor frame played at or after `time`.
    qint64 frameAt(Clock::time_point time) const;
    // Waits until the monitor has recorded up to `time`; false when it stalls for seconds.
    bool recordedUntil(Clock::time_point time) const;

private:
    PulseAudioServer() = default;
    QString start();
    void record(int fd);

    QTemporaryDir m_folder;
    pid_t m_daemon = -1, m_recorder = -1;
    std::thread m_reader;
    mutable std::mutex m_lock;
    std::vector<qint16> m_left;
    qint64 m_partialBytes = 0;
    unsigned char m_partial[4] = {};
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
// The share of the signal's energy at `hz` (Goertzel), between 0 and 1, in the median of its
// 100 ms windows (a dropped packet's phase jump spoils only the window it falls in).
double toneShare(const std::vector<qint16>& samples, double hz, int rate = PulseAudioServer::sampleRate);
