#include "SoundFixture.h"

#include "stream/PCMAudioPlayer.h"

#include <QDir>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>
#include <algorithm>
#include <cmath>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

constexpr int idleExitSeconds = 30; // only reached when the test program died without stopping it

PulseAudioServer::Clock::duration framesDuration(qint64 frames) {
    return std::chrono::duration_cast<PulseAudioServer::Clock::duration>(
        std::chrono::duration<double>(double(frames) / PulseAudioServer::sampleRate));
}

QString& lastError() {
    static QString error;
    return error;
}

} // namespace

PulseAudioServer* PulseAudioServer::shared() {
    static const std::unique_ptr<PulseAudioServer> server = [] {
        std::unique_ptr<PulseAudioServer> started(new PulseAudioServer);
        lastError() = started->start();
        return lastError().isEmpty() ? std::move(started) : nullptr;
    }();
    return server.get();
}

bool PulseAudioServer::unavailable() {
    return QStandardPaths::findExecutable(u"pulseaudio"_s).isEmpty() ||
           QStandardPaths::findExecutable(u"parec"_s).isEmpty();
}

QString PulseAudioServer::startError() {
    return lastError();
}

QString PulseAudioServer::start() {
    if (unavailable()) return u"pulseaudio or parec is not installed (scripts/install-deps installs them)"_s;
    const QDir folder(m_folder.path());
    for (const QString& sub : {u"run"_s, u"state"_s, u"config"_s})
        folder.mkpath(sub);
    const QString socket = folder.filePath(u"native"_s);
    QFile script(folder.filePath(u"server.pa"_s));
    if (!script.open(QIODevice::WriteOnly)) return u"cannot write the server script"_s;
    script.write(u"load-module module-null-sink sink_name=vantle_test rate=%1 channels=2 norewinds=1 "
                 "sink_properties='device.description=\"%2\"'\n"
                 "load-module module-native-protocol-unix auth-anonymous=1 socket=%3\n"
                 "set-default-sink vantle_test\n"_s.arg(sampleRate)
                     .arg(QString::fromLatin1(sinkDescription), socket)
                     .toUtf8());
    script.close();

    // The daemon sees only its own folders: nothing of it lands in the real home or /run/user.
    QProcessEnvironment environment;
    environment.insert(u"PATH"_s, qEnvironmentVariable("PATH"));
    environment.insert(u"HOME"_s, folder.path());
    for (const QString& name : {u"XDG_RUNTIME_DIR"_s, u"PULSE_RUNTIME_PATH"_s})
        environment.insert(name, folder.filePath(u"run"_s));
    environment.insert(u"PULSE_STATE_PATH"_s, folder.filePath(u"state"_s));
    environment.insert(u"XDG_CONFIG_HOME"_s, folder.filePath(u"config"_s));
    m_daemon.setProcessEnvironment(environment);
    m_daemon.setStandardInputFile(QProcess::nullDevice());
    m_daemon.setStandardOutputFile(QProcess::nullDevice());
    const QString log = folder.filePath(u"pulseaudio.log"_s);
    m_daemon.setStandardErrorFile(log);
    // -n: no default script; --system=false: a per-user daemon, which root may run when told so.
    m_daemon.start(QStandardPaths::findExecutable(u"pulseaudio"_s),
                   {u"-n"_s, u"-F"_s, script.fileName(), u"--daemonize=no"_s, u"--system=false"_s,
                    u"--exit-idle-time=%1"_s.arg(idleExitSeconds), u"--use-pid-file=no"_s,
                    u"--disable-shm=yes"_s, u"--log-target=stderr"_s});
    if (!m_daemon.waitForStarted()) return u"pulseaudio: "_s + m_daemon.errorString();

    // This process's client (and parec) talk to the daemon's socket, with a cookie of their own.
    qputenv("PULSE_SERVER", (u"unix:"_s + socket).toLocal8Bit());
    qputenv("PULSE_COOKIE", folder.filePath(u"cookie"_s).toLocal8Bit());
    for (const auto deadline = Clock::now() + 10s; !QFile::exists(socket) && Clock::now() < deadline;)
        QThread::msleep(20);
    if (!QFile::exists(socket)) return u"pulseaudio did not open its socket; its log is in "_s + log;

    const QString recorderLog = folder.filePath(u"parec.log"_s);
    m_reader = std::thread([this, recorderLog] { record(recorderLog); });
    // An idle null sink has rendered up to two seconds ahead; the monitor's first frames come once
    // that is over, and from then on the sink runs with the recorder's latency.
    if (!recordedUntil(Clock::now() + 50ms)) {
        QFile parecLog(recorderLog);
        parecLog.open(QIODevice::ReadOnly);
        return u"the null sink's monitor delivered nothing: "_s + QString::fromLocal8Bit(parecLog.readAll());
    }
    return {};
}

PulseAudioServer::~PulseAudioServer() {
    m_stopping = true; // the reader ends the recorder
    if (m_reader.joinable()) m_reader.join();
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

// On its own thread, which owns the recorder: no event loop, only blocking waits.
void PulseAudioServer::record(const QString& log) {
    QProcess parec;
    parec.setStandardInputFile(QProcess::nullDevice());
    parec.setStandardErrorFile(log);
    parec.start(QStandardPaths::findExecutable(u"parec"_s),
                {u"--raw"_s, u"--format=s16le"_s, u"--rate=%1"_s.arg(sampleRate), u"--channels=2"_s,
                 u"--latency-msec=5"_s, u"--device=vantle_test.monitor"_s});
    while (!m_stopping && parec.state() != QProcess::NotRunning) {
        if (!parec.waitForReadyRead(100)) continue;
        const QByteArray bytes = parec.readAllStandardOutput();
        const auto now = Clock::now();
        std::lock_guard guard(m_lock);
        m_partial += bytes;
        const qsizetype whole = m_partial.size() / 4 * 4;
        for (qsizetype i = 0; i < whole; i += 4)
            m_left.push_back(qFromLittleEndian<qint16>(m_partial.constData() + i));
        m_partial.remove(0, whole);
        m_offset = std::min(m_offset, now.time_since_epoch() - framesDuration(qint64(m_left.size())));
    }
    parec.kill();
    parec.waitForFinished();
}

qint64 PulseAudioServer::recordedFrames() const {
    std::lock_guard guard(m_lock);
    return qint64(m_left.size());
}

std::vector<qint16> PulseAudioServer::left(qint64 from, qint64 to) const {
    std::lock_guard guard(m_lock);
    to = std::min(to, qint64(m_left.size()));
    if (from >= to) return {};
    return std::vector<qint16>(m_left.begin() + from, m_left.begin() + to);
}

PulseAudioServer::Clock::time_point PulseAudioServer::timeOf(qint64 frame) const {
    std::lock_guard guard(m_lock);
    return Clock::time_point(m_offset + framesDuration(frame));
}

qint64 PulseAudioServer::frameAt(Clock::time_point time) const {
    std::lock_guard guard(m_lock);
    const double seconds = std::chrono::duration<double>(time.time_since_epoch() - m_offset).count();
    return qint64(std::ceil(seconds * sampleRate));
}

bool PulseAudioServer::recordedUntil(Clock::time_point time) const {
    for (const auto deadline = std::max(Clock::now(), time) + 5s; Clock::now() <= deadline;
         QThread::msleep(5)) {
        std::lock_guard guard(m_lock);
        if (!m_left.empty() && m_offset + framesDuration(qint64(m_left.size())) >= time.time_since_epoch())
            return true;
    }
    return false;
}

std::vector<SoundSpan> soundSpans(const std::vector<qint16>& samples, qint64 firstFrame,
                                  int minSilenceFrames) {
    std::vector<SoundSpan> spans;
    qint64 zeros = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const qint64 frame = firstFrame + qint64(i);
        if (samples[i] == 0) {
            ++zeros;
            continue;
        }
        if (!spans.empty() && zeros < minSilenceFrames && spans.back().end + zeros == frame)
            spans.back().end = frame + 1; // a zero crossing, not silence
        else
            spans.push_back({frame, frame + 1});
        zeros = 0;
    }
    return spans;
}

QByteArray ToneSource::next() {
    QByteArray pcm(packetFrames * 4, Qt::Uninitialized);
    for (int i = 0; i < packetFrames; ++i, ++frame) {
        const auto value = qint16(8000.0 * std::sin(2.0 * M_PI * 440 * (double(frame) + 0.25) / 48000.0));
        qToLittleEndian(value, pcm.data() + 4 * i);
        qToLittleEndian(value, pcm.data() + 4 * i + 2);
    }
    return pcm;
}

std::string SoundReport::describe() const {
    QStringList spanTexts;
    for (const SoundSpan& span : spans)
        spanTexts.append(u"[%1, %2)"_s.arg(span.start).arg(span.end));
    return (violations + QStringList{u"sound on the monitor: "_s + spanTexts.join(u' ')})
        .join(u'\n')
        .toStdString();
}

SoundReport checkAgainstRules(const PulseAudioServer& server, qint64 firstFrame,
                              const std::vector<qint16>& heard, const std::vector<Arrival>& arrivals) {
    SoundReport report{soundSpans(heard, firstFrame), {}};
    // Frames accepted up to a moment, and frames heard before a monitor frame.
    const auto acceptedBy = [&](PulseAudioServer::Clock::time_point time) {
        qint64 frames = 0;
        for (const Arrival& arrival : arrivals)
            if (arrival.accepted && arrival.at <= time) frames += arrival.frames;
        return frames;
    };
    const auto heardBefore = [&](qint64 frame) {
        qint64 frames = 0;
        for (const SoundSpan& span : report.spans)
            frames += std::clamp(frame - span.start, qint64(0), span.frames());
        return frames;
    };
    for (size_t s = 0; s < report.spans.size(); ++s) {
        const SoundSpan& span = report.spans[s];
        const qint64 queued = acceptedBy(server.timeOf(span.start)) - heardBefore(span.start);
        if (queued < PCMAudioPlayer::startThreshold)
            report.violations.append(
                u"sound at frame %1 with only %2 frames queued"_s.arg(span.start).arg(queued));
        const qint64 waiting = acceptedBy(server.timeOf(span.end) - 40ms) - heardBefore(span.end);
        if (s + 1 < report.spans.size() && waiting > 2)
            report.violations.append(
                u"silence at frame %1 while %2 frames were waiting"_s.arg(span.end).arg(waiting));
    }
    for (const Arrival& arrival : arrivals) {
        const qint64 frame = server.frameAt(arrival.at);
        const qint64 queued = acceptedBy(arrival.at) - heardBefore(frame);
        if (!arrival.accepted && queued < PCMAudioPlayer::dropThreshold / 2)
            report.violations.append(
                u"a packet dropped at frame %1 with only %2 frames queued"_s.arg(frame).arg(queued));
    }
    const qint64 acceptedFrames = acceptedBy(PulseAudioServer::Clock::time_point::max());
    const qint64 heardFrames = heardBefore(std::numeric_limits<qint64>::max());
    // A tone's span may begin or end on a zero sample.
    if (std::abs(heardFrames - acceptedFrames) > 2 * qint64(report.spans.size()))
        report.violations.append(u"%1 frames accepted, %2 heard"_s.arg(acceptedFrames).arg(heardFrames));
    return report;
}
