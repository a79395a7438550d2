#pragma once

#include "stream/StreamStages.h"

#include <chrono>
#include <vector>

class VantleLog;

// The audio socket (scrcpy 5.0.1 with audio_codec=raw) turned into PCM payloads for a list of sinks:
//
//   codec id u32 = 0x00726177 "raw"
//   then packets:  | flags and pts u64 | size u32 | size bytes of payload |
//                    bit 62 of the first field marks a configuration packet (skipped)
//   payload: s16 little-endian, left/right interleaved, 48000 frames per second
//
// Audio never ends the session: whatever goes wrong here, video and control go on.
namespace AudioReader {

// Reads the codec id; false (and a log line) when the device cannot send raw PCM.
bool readHeader(int fd, VantleLog& log);
// Hands every PCM payload to the sinks until the stream ends or breaks.
void read(int fd, const std::vector<AudioSink*>& sinks);

} // namespace AudioReader

// The audio stage that logs the peak level every 3 s, 20 times at most: whether the device sends
// sound or silence.
class AudioLevelLog final : public AudioSink {
public:
    explicit AudioLevelLog(VantleLog& log);
    void push(const QByteArray& pcm) override;

private:
    VantleLog& m_log;
    std::chrono::steady_clock::time_point m_windowStart;
    int32_t m_peak = 0;
    int m_reports = 0;
};
