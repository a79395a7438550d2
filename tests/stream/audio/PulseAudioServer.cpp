#include "PulseAudioServer.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr int idleExitSeconds = 30; // only reached when the test program died without stopping it

QString spawn(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
              int outputFD, const QString& errorFile, pid_t* pid) {
    std::vector<QByteArray> strings{program.toLocal8Bit()};
    for (const QString& argument : arguments)
        strings.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& string : strings)
        argv.push_back(string.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> variables;
    for (const QString& variable : environment.toStringList())
        variables.push_back(variable.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFD >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFD, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const QByteArray errorPath = errorFile.isEmpty() ? QByteArray("/dev/null") : errorFile.toLocal8Bit();
    posix_spawn_file_actions_addopen(&actions, 2, errorPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int error = posix_spawn(pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? QString() : program + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(error));
}

void endChild(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
}

std::unique_ptr<PulseAudioServer>& instance() {
    static std::unique_ptr<PulseAudioServer> server;
    return server;
}
QString& lastError() {
    static QString error;
    return error;
}
bool& started() {
    static bool tried = false;
    return tried;
}

} // namespace

PulseAudioServer* PulseAudioServer::shared() {
    if (!started()) {
        started() = true;
        std::unique_ptr<PulseAudioServer> server(new PulseAudioServer);
        lastError() = server->start();
        if (lastError().isEmpty()) instance() = std::move(server);
    }
    return instance().get();
}

bool PulseAudioServer::unavailable() {
    return QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
           QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty();
}

QString PulseAudioServer::startError() {
    return lastError();
}

QString PulseAudioServer::start() {
    if (unavailable())
        return QStringLiteral("pulseaudio or parec is not installed (scripts/install-deps installs them)");
    if (!m_folder.isValid()) return QStringLiteral("no temporary folder");
    const QDir folder(m_folder.path());
    for (const char* sub : {"run", "state", "config"})
        folder.mkpath(QString::fromLatin1(sub));
    const QString socket = folder.filePath(QStringLiteral("native"));
    QFile script(folder.filePath(QStringLiteral("server.pa")));
    if (!script.open(QIODevice::WriteOnly)) return QStringLiteral("cannot write the server script");
    script.write(
        QStringLiteral("load-module module-null-sink sink_name=vantle_test rate=%1 channels=2 norewinds=1 "
                       "sink_properties='device.description=\"%2\"'\n"
                       "load-module module-native-protocol-unix auth-anonymous=1 socket=%3\n"
                       "set-default-sink vantle_test\n")
            .arg(sampleRate)
            .arg(QString::fromLatin1(sinkDescription), socket)
            .toUtf8());
    script.close();

    // The daemon sees only its own folders: nothing of it lands in the real home or /run/user.
    QProcessEnvironment daemonEnvironment;
    daemonEnvironment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    daemonEnvironment.insert(QStringLiteral("HOME"), folder.path());
    daemonEnvironment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.filePath(QStringLiteral("run")));
    daemonEnvironment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), folder.filePath(QStringLiteral("run")));
    daemonEnvironment.insert(QStringLiteral("PULSE_STATE_PATH"), folder.filePath(QStringLiteral("state")));
    daemonEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.filePath(QStringLiteral("config")));
    // -n: no default script; --system=false: a per-user daemon, which root may run when told so.
    const QString log = folder.filePath(QStringLiteral("pulseaudio.log"));
    if (QString error = spawn(QStandardPaths::findExecutable(QStringLiteral("pulseaudio")),
                              {QStringLiteral("-n"), QStringLiteral("-F"), script.fileName(),
                               QStringLiteral("--daemonize=no"), QStringLiteral("--system=false"),
                               QStringLiteral("--exit-idle-time=%1").arg(idleExitSeconds),
                               QStringLiteral("--use-pid-file=no"), QStringLiteral("--disable-shm=yes"),
                               QStringLiteral("--log-target=stderr")},
                              daemonEnvironment, -1, log, &m_daemon);
        !error.isEmpty())
        return error;

    // This process's client (and parec) talk to the daemon's socket, with a cookie of their own.
    qputenv("PULSE_SERVER", (QStringLiteral("unix:") + socket).toLocal8Bit());
    qputenv("PULSE_COOKIE", folder.filePath(QStringLiteral("cookie")).toLocal8Bit());
    const auto deadline = Clock::now() + 10s;
    while (!QFile::exists(socket) && Clock::now() < deadline)
        QThread::msleep(20);
    if (!QFile::exists(socket))
        return QStringLiteral("pulseaudio did not open its socket; its log is in ") + log;

    int pipeFDs[2];
    if (::pipe2(pipeFDs, O_CLOEXEC) != 0) return QStringLiteral("pipe failed");
    const QString error =
        spawn(QStandardPaths::findExecutable(QStringLiteral("parec")),
              {QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
               QStringLiteral("--rate=%1").arg(sampleRate), QStringLiteral("--channels=2"),
               QStringLiteral("--latency-msec=5"), QStringLiteral("--device=vantle_test.monitor")},
              QProcessEnvironment::systemEnvironment(), pipeFDs[1],
              folder.filePath(QStringLiteral("parec.log")), &m_recorder);
    ::close(pipeFDs[1]);
    if (!error.isEmpty()) {
        ::close(pipeFDs[0]);
        return error;
    }
    m_reader = std::thread([this, fd = pipeFDs[0]] { record(fd); });
    // An idle null sink has rendered up to two seconds ahead; the monitor's first frames come once
    // that is over, and from then on the sink runs with the recorder's latency.
    if (!recordedUntil(Clock::now() + 50ms)) {
        QFile parecLog(folder.filePath(QStringLiteral("parec.log")));
        parecLog.open(QIODevice::ReadOnly);
        return QStringLiteral("the null sink's monitor delivered nothing: ") +
               QString::fromLocal8Bit(parecLog.readAll());
    }
    return {};
}

PulseAudioServer::~PulseAudioServer() {
    endChild(m_recorder); // its pipe closes, which ends the reader
    if (m_reader.joinable()) m_reader.join();
    endChild(m_daemon);
}

void PulseAudioServer::record(int fd) {
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const auto now = Clock::now();
        std::lock_guard guard(m_lock);
        for (ssize_t i = 0; i < got; ++i) {
            m_partial[m_partialBytes++] = buffer[size_t(i)];
            if (m_partialBytes == 4) {
                m_left.push_back(qint16(m_partial[0] | (m_partial[1] << 8)));
                m_partialBytes = 0;
            }
        }
        const auto played = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(m_left.size()) / sampleRate));
        m_offset = std::min(m_offset, now.time_since_epoch() - played);
    }
    ::close(fd);
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
    return Clock::time_point(m_offset + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(double(frame) / sampleRate)));
}

qint64 PulseAudioServer::frameAt(Clock::time_point time) const {
    std::lock_guard guard(m_lock);
    const double seconds = std::chrono::duration<double>(time.time_since_epoch() - m_offset).count();
    return qint64(std::ceil(seconds * sampleRate));
}

bool PulseAudioServer::recordedUntil(Clock::time_point time) const {
    const auto deadline = Clock::now() + 5s;
    for (;;) {
        {
            std::lock_guard guard(m_lock);
            if (!m_left.empty() &&
                m_offset + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(double(m_left.size()) / sampleRate)) >=
                    time.time_since_epoch())
                return true;
        }
        if (Clock::now() > std::max(deadline, time + 5s)) return false;
        QThread::msleep(5);
    }
}

std::vector<SoundSpan> soundSpans(const std::vector<qint16>& samples, qint64 firstFrame,
                                  int minSilenceFrames) {
    std::vector<SoundSpan> spans;
    qint64 zeros = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const qint64 frame = firstFrame + qint64(i);
        if (samples[i] != 0) {
            if (!spans.empty() && zeros < minSilenceFrames && spans.back().end + zeros == frame)
                spans.back().end = frame + 1; // a zero crossing, not silence
            else
                spans.push_back({frame, frame + 1});
            zeros = 0;
        } else {
            ++zeros;
        }
    }
    return spans;
}

namespace {

double windowShare(std::vector<qint16>::const_iterator begin, std::vector<qint16>::const_iterator end,
                   double hz, int rate) {
    const double coefficient = 2 * std::cos(2 * M_PI * hz / rate);
    double previous = 0, beforePrevious = 0, energy = 0;
    for (auto sample = begin; sample != end; ++sample) {
        const double x = *sample;
        const double current = x + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
        energy += x * x;
    }
    if (energy == 0) return 0;
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2 * power / (double(end - begin) * energy);
}

} // namespace

double toneShare(const std::vector<qint16>& samples, double hz, int rate) {
    const qsizetype window = rate / 10;
    std::vector<double> shares;
    for (qsizetype start = 0; start + window <= qsizetype(samples.size()); start += window)
        shares.push_back(windowShare(samples.begin() + start, samples.begin() + start + window, hz, rate));
    if (shares.empty()) return 0;
    std::nth_element(shares.begin(), shares.begin() + qsizetype(shares.size() / 2), shares.end());
    return shares[shares.size() / 2];
}
