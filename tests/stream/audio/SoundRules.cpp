#include "SoundRules.h"

#include "stream/PCMAudioPlayer.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace {

using Clock = PulseAudioServer::Clock;

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

} // namespace

QByteArray ToneSource::next() {
    QByteArray pcm(packetFrames * 4, Qt::Uninitialized);
    for (int i = 0; i < packetFrames; ++i, ++frame) {
        const auto value = qint16(8000.0 * std::sin(2.0 * M_PI * hz * (double(frame) + 0.25) / 48000.0));
        qToLittleEndian(value, pcm.data() + 4 * i);
        qToLittleEndian(value, pcm.data() + 4 * i + 2);
    }
    return pcm;
}

std::string SoundReport::describe() const {
    QStringList lines = violations;
    QStringList spanTexts;
    for (const SoundSpan& span : spans)
        spanTexts.append(QStringLiteral("[%1, %2)").arg(span.start).arg(span.end));
    lines.append(QStringLiteral("sound on the monitor: ") + spanTexts.join(QLatin1Char(' ')));
    if (!latenciesMs.empty())
        lines.append(QStringLiteral("latency ms: first %1, median %2, max %3")
                         .arg(latenciesMs.front())
                         .arg(percentile(latenciesMs, 50))
                         .arg(*std::max_element(latenciesMs.begin(), latenciesMs.end())));
    return lines.join(QLatin1Char('\n')).toStdString();
}

SoundReport checkAgainstRules(const PulseAudioServer& server, qint64 firstFrame,
                              const std::vector<qint16>& heard, const std::vector<Arrival>& arrivals,
                              Ending ending) {
    SoundReport report;
    report.spans = soundSpans(heard, firstFrame);
    std::vector<Arrival> accepted;
    std::copy_if(arrivals.begin(), arrivals.end(), std::back_inserter(accepted),
                 [](const Arrival& arrival) { return arrival.accepted; });
    // Frames accepted up to a moment.
    auto acceptedBy = [&](Clock::time_point time) {
        qint64 frames = 0;
        for (const Arrival& arrival : accepted)
            if (arrival.at <= time) frames += arrival.frames;
        return frames;
    };
    qint64 acceptedFrames = 0;
    for (const Arrival& arrival : accepted)
        acceptedFrames += arrival.frames;
    if (ending == Ending::streamGoesOn) {
        qint64 kept = 0;
        for (size_t s = 0; s < report.spans.size(); ++s) {
            SoundSpan& span = report.spans[s];
            if (kept + span.frames() >= acceptedFrames) {
                span.end = span.start + (acceptedFrames - kept);
                report.spans.resize(s + 1);
                break;
            }
            kept += span.frames();
        }
    }
    qint64 heardFrames = 0;
    for (const SoundSpan& span : report.spans)
        heardFrames += span.frames();
    // A tone's span may begin or end on a zero sample.
    if (std::abs(heardFrames - acceptedFrames) > 2 * qint64(report.spans.size()))
        report.violations.append(
            QStringLiteral("%1 frames accepted, %2 heard").arg(acceptedFrames).arg(heardFrames));

    qint64 heardBefore = 0;
    for (size_t s = 0; s < report.spans.size(); ++s) {
        const SoundSpan& span = report.spans[s];
        const qint64 queued = acceptedBy(server.timeOf(span.start)) - heardBefore;
        if (queued < PCMAudioPlayer::startThreshold)
            report.violations.append(
                QStringLiteral("sound at frame %1 with only %2 frames queued").arg(span.start).arg(queued));
        heardBefore += span.frames();
        if (s + 1 < report.spans.size()) {
            const qint64 waiting =
                acceptedBy(server.timeOf(span.end) - std::chrono::milliseconds(40)) - heardBefore;
            if (waiting > 2)
                report.violations.append(QStringLiteral("silence at frame %1 while %2 frames were waiting")
                                             .arg(span.end)
                                             .arg(waiting));
        }
    }

    // Each packet's first frame on the monitor. A packet that arrived while playback waited for the
    // start threshold is held by that rule, not by the queue: its bound runs from the moment the
    // threshold was reached.
    std::vector<Clock::time_point> spanReady; // per span: when 60 ms were queued for it
    heardBefore = 0;
    for (const SoundSpan& span : report.spans) {
        qint64 frames = 0;
        Clock::time_point ready = accepted.empty() ? Clock::time_point() : accepted.back().at;
        for (const Arrival& arrival : accepted) {
            frames += arrival.frames;
            if (frames - heardBefore >= PCMAudioPlayer::startThreshold) {
                ready = arrival.at;
                break;
            }
        }
        spanReady.push_back(ready);
        heardBefore += span.frames();
    }
    const double boundMs =
        1000.0 * PCMAudioPlayer::dropThreshold / PCMAudioPlayer::sampleRate + SoundReport::latencySlackMs;
    qint64 offset = 0;
    size_t s = 0;
    qint64 spanStartOffset = 0;
    for (size_t k = 0; k < accepted.size(); offset += accepted[k].frames, ++k) {
        while (s < report.spans.size() && offset >= spanStartOffset + report.spans[s].frames()) {
            spanStartOffset += report.spans[s].frames();
            ++s;
        }
        if (s == report.spans.size()) break;
        const qint64 frame = report.spans[s].start + (offset - spanStartOffset);
        const double latency = milliseconds(server.timeOf(frame) - accepted[k].at);
        report.latenciesMs.push_back(latency);
        if (milliseconds(server.timeOf(frame) - std::max(accepted[k].at, spanReady[s])) > boundMs)
            report.violations.append(
                QStringLiteral("packet %1 heard %2 ms after it arrived").arg(k).arg(latency));
    }
    return report;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}
