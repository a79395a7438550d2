// The media side of one notification poll: reading the app's session out of a `dumpsys
// media_session` dump of 50 sessions, with the app's block last (the whole dump is walked). The
// target for a whole poll's parsing is under 1 ms.
#include "integrations/AndroidMediaSessions.h"

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

QString dumpOf(int sessions) {
    QString text =
        u"MEDIA SESSION SERVICE (dumpsys media_session)\n\n  Sessions Stack - have %1 sessions:\n"_s.arg(
            sessions);
    for (int i = 0; i < sessions; ++i) {
        const QString package = i == sessions - 1 ? u"org.example.player"_s : u"org.example.app%1"_s.arg(i);
        text += u"    MediaSession %1/MediaSession (userId=0)\n"
                u"      ownerPid=%2, ownerUid=%3, userId=0\n"
                u"      package=%1\n"
                u"      launchIntent=null\n      mediaButtonReceiver=null\n      active=true\n      flags=3\n"
                u"      rating type=0\n      controllers: 1\n"
                u"      state=PlaybackState {state=3, position=1200, buffered position=0, speed=1.0, "
                u"updated=5123, actions=823, custom actions=[], active item id=-1, error=null}\n"
                u"      audioAttrs=AudioAttributes: usage=USAGE_MEDIA content=CONTENT_TYPE_MUSIC flags=0x800 "
                u"tags= bundle=null\n"
                u"      volumeType=1, controlType=2, max=0, current=0\n"
                u"      metadata: size=4, description=Song number %4, Some artist, Some album\n"
                u"      queueTitle=null, size=0\n"_s.arg(package)
                    .arg(4000 + i)
                    .arg(10100 + i)
                    .arg(i);
    }
    return text + u"\n  Media button session is null\n"_s;
}

void parseFiftySessions(benchmark::State& state) {
    const QString dump = dumpOf(50);
    for (auto _ : state) {
        std::optional<AndroidMedia> media = AndroidMediaSessions::parse(dump, u"org.example.player"_s);
        benchmark::DoNotOptimize(media);
    }
    state.counters["dump_bytes"] = double(dump.toUtf8().size());
}
BENCHMARK(parseFiftySessions)->Unit(benchmark::kMicrosecond);

// The dump as adb hands it over: bytes to decode first.
void decodeAndParseFiftySessions(benchmark::State& state) {
    const QByteArray bytes = dumpOf(50).toUtf8();
    for (auto _ : state) {
        std::optional<AndroidMedia> media =
            AndroidMediaSessions::parse(QString::fromUtf8(bytes), u"org.example.player"_s);
        benchmark::DoNotOptimize(media);
    }
}
BENCHMARK(decodeAndParseFiftySessions)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
