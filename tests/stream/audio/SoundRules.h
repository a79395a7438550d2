#pragma once

#include "PulseAudioServer.h"

#include <QByteArray>
#include <QStringList>
#include <vector>

// A 440 Hz tone like the simulated device's (amplitude 8000, both channels, 20 ms packets), a
// quarter of a sample out of phase so that no sample is zero: silence on the monitor is then
// unambiguous.
struct ToneSource {
    static constexpr int packetFrames = 960;
    static constexpr double hz = 440;
    qint64 frame = 0;
    QByteArray next();
};

// One PCM packet handed to the player: when, how many frames, and whether it was taken (not
// dropped).
struct Arrival {
    PulseAudioServer::Clock::time_point at;
    qint64 frames = 0;
    bool accepted = true;
};

// What the monitor heard, held against the jitter buffer's rules:
// - every accepted frame is heard once, in order, and nothing else;
// - sound starts, and resumes after silence, only once 60 ms are queued (accepted, not yet heard);
// - sound stops only when nothing is left: what arrived 40 ms before the silence was heard before it;
// - each accepted packet is heard within the drop threshold (250 ms queued) of its arrival (or of
//   the moment 60 ms were queued, for packets that waited for playback to start), plus
//   `latencySlackMs` for the sink's report of what it played and the check of that report.
struct SoundReport {
    static constexpr double latencySlackMs = 40;
    std::vector<SoundSpan> spans;
    std::vector<double> latenciesMs; // per heard packet: arrival to its first frame on the monitor
    QStringList violations;
    std::string describe() const;
};
// `streamGoesOn`: packets after the last of `arrivals` kept coming, so what was heard after the
// accepted frames is theirs and left out.
enum class Ending { streamEnded, streamGoesOn };
SoundReport checkAgainstRules(const PulseAudioServer& server, qint64 firstFrame,
                              const std::vector<qint16>& heard, const std::vector<Arrival>& arrivals,
                              Ending ending = Ending::streamEnded);

// The p-th percentile (0..100) of `values`, nearest rank.
double percentile(std::vector<double> values, double p);
