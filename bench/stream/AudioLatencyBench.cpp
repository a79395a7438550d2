// audio_latency_bench [seconds]: the delay from a PCM packet's arrival at the player to its first
// frame on the sound server, through the real QAudioSink on a private PulseAudio null sink (the
// audio tests' fixture), with the simulated device's tone in 20 ms packets:
//   - at the device's pace (a packet every 20 ms);
//   - with arrival jitter (three packets at once every 60 ms, as after a busy moment on the device);
//   - at twice the pace (the drop threshold caps the delay).
// Prints median, p99 and maximum per case, and what the player dropped.
#include "SoundFixture.h"
#include "stream/PCMAudioPlayer.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = PulseAudioServer::Clock;

// The p-th percentile (0..100) of `values`, nearest rank.
double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// Per accepted packet, in order: from its arrival to its first frame on the monitor. The heard
// spans hold the accepted frames one after another.
std::vector<double> latenciesMs(const PulseAudioServer& server, const std::vector<SoundSpan>& spans,
                                const std::vector<Arrival>& arrivals) {
    std::vector<double> latencies;
    qint64 offset = 0, spanStartOffset = 0;
    size_t s = 0;
    for (const Arrival& arrival : arrivals) {
        if (!arrival.accepted) continue;
        while (s < spans.size() && offset >= spanStartOffset + spans[s].frames())
            spanStartOffset += spans[s++].frames();
        if (s == spans.size()) break;
        const auto played = server.timeOf(spans[s].start + (offset - spanStartOffset));
        latencies.push_back(std::chrono::duration<double, std::milli>(played - arrival.at).count());
        offset += arrival.frames;
    }
    return latencies;
}

struct Case {
    const char* name;
    int packetsPerBurst;
    std::chrono::microseconds burstInterval;
};

void run(PulseAudioServer& server, const Case& c, int seconds) {
    PCMAudioPlayer player;
    ToneSource tone;
    std::vector<Arrival> arrivals;
    const qint64 from = server.recordedFrames();
    const int bursts = int(std::chrono::microseconds(std::chrono::seconds(seconds)) / c.burstInterval);
    auto next = Clock::now();
    for (int b = 0; b < bursts; ++b) {
        std::this_thread::sleep_until(next);
        next += c.burstInterval;
        for (int p = 0; p < c.packetsPerBurst; ++p) {
            const int dropped = player.counters().droppedPackets;
            const auto at = Clock::now();
            player.play(tone.next());
            arrivals.push_back({at, ToneSource::packetFrames, player.counters().droppedPackets == dropped});
        }
    }
    const auto end = arrivals.back().at + 500ms;
    if (!server.recordedUntil(end)) {
        std::printf("%-28s the monitor stalled\n", c.name);
        return;
    }
    const SoundReport report =
        checkAgainstRules(server, from, server.left(from, server.frameAt(end)), arrivals);
    // The first packets wait for the start threshold by design; the steady state starts after them.
    const std::vector<double> all = latenciesMs(server, report.spans, arrivals);
    const std::vector<double> steady(all.begin() + std::min<size_t>(3, all.size()), all.end());
    std::printf("%-28s packets %5zu  dropped %4d  gaps %2zu  latency ms: median %6.1f  p99 %6.1f  max %6.1f  "
                "rule violations %lld\n",
                c.name, arrivals.size(), player.counters().droppedPackets,
                report.spans.empty() ? size_t(0) : report.spans.size() - 1, percentile(steady, 50),
                percentile(steady, 99),
                steady.empty() ? 0.0 : *std::max_element(steady.begin(), steady.end()),
                qlonglong(report.violations.size()));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    PulseAudioServer* server = PulseAudioServer::shared();
    if (!server) {
        std::fprintf(stderr, "audio_latency_bench: %s\n", qPrintable(PulseAudioServer::startError()));
        return 1;
    }
    std::printf("arrival at the player to the null sink's monitor, %d s per case\n", seconds);
    for (const Case& c : {Case{"device pace (20 ms)", 1, 20ms}, Case{"jitter (3 packets / 60 ms)", 3, 60ms},
                          Case{"twice the device pace", 1, 10ms}}) {
        run(*server, c, seconds);
        std::this_thread::sleep_for(300ms); // the queue runs dry between cases
    }
    return 0;
}
