#include "stream/AndroidStreamClient.h"

#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "platform/ChildProcess.h"
#include "stream/AudioReader.h"
#include "stream/DeviceMessageReader.h"
#include "stream/PCMAudioPlayer.h"
#include "stream/ScrcpyControl.h"
#include "stream/SerialQueue.h"
#include "stream/ServerProcess.h"
#include "stream/StreamRecorder.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QThreadPool>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString serverJarOnDevice = u"/data/local/tmp/scrcpy-server.jar"_s;
const QString serverVersion = u"5.0.1"_s;
constexpr double videoAcceptSeconds = 15.0;
constexpr double audioAcceptSeconds = 5.0;
constexpr double controlAcceptSeconds = 5.0;
// A crashing server's sockets close before its last output was read: how long an unasked end of
// the video stream waits for the server's exit, to tell the user what the server said.
constexpr std::chrono::milliseconds serverExitWaitMs{2000};
constexpr qsizetype serverOutputTailChars = 4096;
// How long a recording's stop waits for a fresh key frame to end on.
constexpr std::chrono::milliseconds finalFrameWait{800};

// Strict UTF-8: output that does not decode is not logged (its chunk may have split a character).
std::optional<QString> decodeUTF8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

std::shared_ptr<AndroidStreamClient> AndroidStreamClient::create(Config config,
                                                                 std::shared_ptr<VideoSink> renderer,
                                                                 std::shared_ptr<VantleLog> log) {
    return std::shared_ptr<AndroidStreamClient>(
        new AndroidStreamClient(std::move(config), std::move(renderer), std::move(log)));
}

AndroidStreamClient::AndroidStreamClient(Config config, std::shared_ptr<VideoSink> renderer,
                                         std::shared_ptr<VantleLog> log)
    : m_config(std::move(config))
    , m_renderer(std::move(renderer))
    , m_log(std::move(log))
    , m_forwardAudio(VantleSettings::get(SettingsKeys::forwardAudio))
    , m_scid(QRandomGenerator::global()->bounded(1u, 2147483647u))
    , // 1 … 2^31 − 2
    m_snapshots([this](std::optional<QImage> image) {
        if (!image) return;
        auto box = std::make_shared<ImageBox>(ImageBox{std::move(image)});
        postToGui([this, box] {
            if (onSnapshot) onSnapshot(box);
        });
    })
    , m_sendQueue(std::make_unique<SerialQueue>(u"vantle.android.control"_s)) {}

AndroidStreamClient::~AndroidStreamClient() {
    // Control writes hold the raw client: the queue's worker must be finished before the control
    // socket is closed under it.
    m_sendQueue.reset();
    // A stop still waiting for its final frame (its timer went with the queue) completes now.
    m_recording.completePendingStop();
    // Every other user of the descriptors is gone; close what `stop` only shut down, and what was
    // never stopped.
    for (const int fd : {m_videoFD, m_controlFD, m_audioFD})
        if (fd >= 0) ::close(fd);
    for (const int fd : m_shutDownFDs)
        ::close(fd);
}

QString AndroidStreamClient::socketName() const {
    return QString::asprintf("scrcpy_%08x", m_scid);
}

QSize AndroidStreamClient::displaySize(QSizeF pixelSize) {
    return {int(pixelSize.width()) & ~7, int(pixelSize.height()) & ~7};
}

QStringList AndroidStreamClient::serverArguments() const {
    const QSize display = displaySize(m_config.pixelSize);
    return {u"-s"_s,
            m_config.serial,
            u"shell"_s,
            u"CLASSPATH="_s + serverJarOnDevice,
            u"app_process"_s,
            u"/"_s,
            u"com.genymobile.scrcpy.Server"_s,
            serverVersion,
            QString::asprintf("scid=%08x", m_scid),
            u"log_level=info"_s,
            m_forwardAudio ? u"audio_codec=raw"_s : u"audio=false"_s,
            u"video_bit_rate=%1"_s.arg(m_config.bitRate),
            u"max_fps=%1"_s.arg(m_config.maxFPS),
            u"new_display=%1x%2/%3"_s.arg(display.width()).arg(display.height()).arg(m_config.dpi),
            u"flex_display=true"_s,
            u"vd_system_decorations=false"_s,
            u"clipboard_autosync=true"_s,
            u"power_on=false"_s};
}

std::pair<int, QString> AndroidStreamClient::adb(const QStringList& arguments) const {
    ChildProcess process;
    process.program = m_config.adb;
    process.arguments = QStringList{u"-s"_s, m_config.serial} + arguments;
    process.mergeErrorIntoOutput = true;
    const ChildProcess::Result result = process.run();
    if (!result.started) return {-1, result.startError};
    return {result.exitCode, decodeUTF8(result.standardOutput).value_or(QString())};
}

void AndroidStreamClient::start() {
    {
        std::unique_lock guard(m_lock);
        if (m_stopped) { // stopped before it started: it ends at once, without connecting
            guard.unlock();
            finish(std::nullopt);
            return;
        }
    }
    // The start thread owns the client until the video reader ends.
    std::thread([self = shared_from_this()] {
        try {
            self->connect();
        } catch (const VantleError& error) { // SocketError, ServerProcessError
            self->m_log->write(u"Vantle: stream start failed: "_s + error.description());
            self->finish(u"Could not connect to Android: "_s + error.description());
        }
    }).detach();
}

void AndroidStreamClient::connect() {
    const auto startedAt = std::chrono::steady_clock::now();
    const QString socket = socketName();
    mark(&Timeline::started);

    if (const auto [status, output] = adb({u"push"_s, m_config.server, serverJarOnDevice}); status != 0)
        throw SocketError(u"push server: "_s + output);
    mark(&Timeline::pushed);

    LocalListener listener;
    if (const auto [status, output] =
            adb({u"reverse"_s, u"localabstract:"_s + socket, u"tcp:"_s + QString::number(listener.port())});
        status != 0)
        throw SocketError(u"adb reverse: "_s + output);
    mark(&Timeline::tunnelled);

    startServer();
    mark(&Timeline::serverStarted);

    const int videoFD = listener.accept(videoAcceptSeconds);
    int audioFD = -1, controlFD = -1;
    try {
        if (m_forwardAudio) audioFD = listener.accept(audioAcceptSeconds);
        controlFD = listener.accept(controlAcceptSeconds);
    } catch (...) {
        for (const int fd : {videoFD, audioFD})
            if (fd >= 0) ::close(fd);
        throw;
    }

    mark(&Timeline::accepted);
    const bool stopped = adoptSockets(videoFD, controlFD, audioFD);
    // The tunnel has done its work. Removing it is an adb round trip that the first frame need not
    // wait for, so it runs beside the readers.
    std::thread([self = shared_from_this(), socket] {
        self->adb({u"reverse"_s, u"--remove"_s, u"localabstract:"_s + socket});
    }).detach();
    if (stopped) {
        stop();
        return;
    }
    m_log->write(QString::asprintf("Vantle: sockets connected after %.2fs (port %d)", secondsSince(startedAt),
                                   int(listener.port())));
    runReaders(videoFD, audioFD, startedAt);
}

void AndroidStreamClient::startServer() {
    const std::weak_ptr<AndroidStreamClient> weak = weak_from_this();
    const std::shared_ptr<VantleLog> log = m_log;
    ServerProcess::Handlers handlers;
    handlers.output = [weak, log](const QByteArray& chunk) {
        const std::optional<QString> text = decodeUTF8(chunk);
        if (!text) return;
        log->write(*text);
        const auto client = weak.lock();
        if (!client) return;
        const std::optional<int> id = displayIDIn(*text);
        std::lock_guard guard(client->m_lock);
        if (id) client->m_displayID = id;
        client->m_serverOutputTail = (client->m_serverOutputTail + *text).right(serverOutputTailChars);
    };
    handlers.exited = [weak, log](int status) {
        log->write(u"Vantle: android server exited status="_s + QString::number(status));
        if (const auto client = weak.lock()) client->endUnasked(unexpectedEndText);
    };
    auto process = ServerProcess::start(m_config.adb, serverArguments(), std::move(handlers));
    std::lock_guard guard(m_lock);
    m_serverProcess = std::move(process);
}

std::optional<int> AndroidStreamClient::displayIDIn(const QString& output) {
    static const QRegularExpression pattern(u"\\(id=(\\d+)\\)"_s);
    const QRegularExpressionMatch match = pattern.match(output);
    if (!match.hasMatch()) return std::nullopt;
    bool ok = false;
    const int id = match.captured(1).toInt(&ok);
    return ok ? std::optional<int>(id) : std::nullopt;
}

std::optional<QString> AndroidStreamClient::lastServerError(const QString& output) {
    static const QLatin1StringView marker("ERROR: ");
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const qsizetype at = line->indexOf(marker);
        if (at < 0) continue;
        const QString text = line->mid(at + marker.size()).trimmed();
        if (!text.isEmpty()) return text;
    }
    return std::nullopt;
}

bool AndroidStreamClient::adoptSockets(int videoFD, int controlFD, int audioFD) {
    std::lock_guard guard(m_lock);
    m_videoFD = videoFD;
    m_controlFD = controlFD;
    m_audioFD = audioFD;
    return m_stopped;
}

void AndroidStreamClient::serve(int videoFD, int controlFD, int audioFD,
                                std::chrono::steady_clock::time_point startedAt) {
    if (adoptSockets(videoFD, controlFD, audioFD)) {
        stop();
        return;
    }
    runReaders(videoFD, audioFD, startedAt);
}

void AndroidStreamClient::runReaders(int videoFD, int audioFD,
                                     std::chrono::steady_clock::time_point startedAt) {
    // "+": the server stops the app first, so the window always shows a fresh start.
    send(ScrcpyControl::startApp(u"+"_s + m_config.package));
    // The caller holds the client until the readers are joined. The video reader's end stops the
    // session, whose shut-down sockets end the other two.
    std::thread messages([this] { drainDeviceMessages(); });
    std::thread audio;
    if (audioFD >= 0) audio = std::thread([this, audioFD] { readAudio(audioFD); });
    readVideo(videoFD, startedAt);
    messages.join();
    if (audio.joinable()) audio.join();
}

void AndroidStreamClient::readVideo(int fd, std::chrono::steady_clock::time_point startedAt) {
    VideoReader::Events events;
    events.session = [this](QSize size) {
        {
            std::lock_guard guard(m_lock);
            m_videoSize = size;
        }
        postToGui([this, size] {
            if (onVideoSize) onVideoSize(size);
        });
    };
    events.firstFrame = [this] {
        mark(&Timeline::firstFrame);
        postToGui([this] {
            if (onFirstFrame) onFirstFrame();
        });
    };
    std::vector<VideoSink*> sinks{&m_recording, &m_snapshots};
    if (m_renderer) sinks.insert(sinks.begin(), m_renderer.get());
    VideoReader reader(std::move(sinks), std::move(events), *m_log);
    switch (const VideoReader::End end = reader.read(fd, startedAt); end.kind) {
    case VideoReader::End::closedEarly:
        return endUnasked(u"Video stream closed early"_s);
    case VideoReader::End::unsupportedCodec:
        return finish(QString::asprintf("Unsupported video codec 0x%08x", end.codec));
    case VideoReader::End::ended:
        return endUnasked(unexpectedEndText);
    }
}

void AndroidStreamClient::readAudio(int fd) {
    if (!AudioReader::readHeader(fd, *m_log)) return;
    auto player = std::make_shared<PCMAudioPlayer>();
    {
        std::lock_guard guard(m_lock);
        if (m_stopped) return;
        m_audioPlayer = player;
    }
    m_log->write(u"Vantle: audio forwarding on (48 kHz stereo PCM)"_s);
    AudioLevelLog levels(*m_log);
    AudioReader::read(fd, {player.get(), &m_recording, &levels});
    player->stop();
}

void AndroidStreamClient::drainDeviceMessages() {
    int fd;
    {
        std::lock_guard guard(m_lock);
        fd = m_controlFD;
    }
    if (fd < 0) return;
    DeviceMessages::read(fd, [this](QString text) {
        postToGui([this, text = std::move(text)] { DeviceMessages::copyToDesktop(text, *m_log); });
    });
}

void AndroidStreamClient::stop() {
    int fds[3];
    std::shared_ptr<ServerProcess> process;
    std::shared_ptr<PCMAudioPlayer> player;
    {
        std::lock_guard guard(m_lock);
        m_stopped = true;
        fds[0] = std::exchange(m_videoFD, -1);
        fds[1] = std::exchange(m_controlFD, -1);
        fds[2] = std::exchange(m_audioFD, -1);
        process = std::move(m_serverProcess);
        m_serverProcess.reset();
        player = std::move(m_audioPlayer);
        m_audioPlayer.reset();
    }
    // Shutting down wakes every reader blocked on a socket, and the device sees the end at once.
    // The descriptors are closed only when the client goes away: a reader may have taken the
    // number just before this, and a closed number can be reused by any other open in the process.
    std::vector<int> shutDown;
    for (const int fd : fds) {
        if (fd < 0) continue;
        ::shutdown(fd, SHUT_RDWR);
        shutDown.push_back(fd);
    }
    if (!shutDown.empty()) {
        std::lock_guard guard(m_lock);
        m_shutDownFDs.insert(m_shutDownFDs.end(), shutDown.begin(), shutDown.end());
    }
    if (player) QThreadPool::globalInstance()->start([player] { player->stop(); });
    if (process && process->isRunning()) process->terminate();
}

void AndroidStreamClient::endUnasked(const QString& fallback) {
    std::shared_ptr<ServerProcess> process;
    {
        std::lock_guard guard(m_lock);
        process = m_serverProcess;
    }
    // `stop` takes the process: a running one means nobody asked for this end.
    if (process) process->waitForExit(serverExitWaitMs);
    std::optional<QString> reason;
    {
        std::lock_guard guard(m_lock);
        if (!m_stopped) reason = lastServerError(m_serverOutputTail).value_or(fallback);
    }
    finish(reason);
}

void AndroidStreamClient::finish(std::optional<QString> error) {
    {
        std::lock_guard guard(m_lock);
        if (std::exchange(m_endReported, true)) return;
    }
    stop();
    postToGui([this, error] {
        if (onEnded) onEnded(error);
    });
}

void AndroidStreamClient::send(QByteArray message) {
    // Work items hold the raw pointer: the queue is a member, joined before the client is gone.
    m_sendQueue->post([this, message = std::move(message)] {
        int fd;
        {
            std::lock_guard guard(m_lock);
            fd = m_controlFD;
        }
        if (fd < 0) return;
        writeAll(fd, message);
    });
}

void AndroidStreamClient::postToGui(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;
    QMetaObject::invokeMethod(
        application, [self = shared_from_this(), work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

void AndroidStreamClient::mark(Timeline::Time Timeline::*step) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(m_lock);
    m_timeline.*step = now;
}

AndroidStreamClient::Timeline AndroidStreamClient::timeline() const {
    std::lock_guard guard(m_lock);
    return m_timeline;
}

QSize AndroidStreamClient::videoSize() const {
    std::lock_guard guard(m_lock);
    return m_videoSize;
}

std::optional<int> AndroidStreamClient::displayID() const {
    std::lock_guard guard(m_lock);
    return m_displayID;
}

uint64_t AndroidStreamClient::nextClipboardSequence() {
    std::lock_guard guard(m_lock);
    return ++m_clipboardSequence;
}

void AndroidStreamClient::requestSnapshot() {
    m_snapshots.request();
    send(ScrcpyControl::resetVideo());
}

void AndroidStreamClient::startRecording(std::shared_ptr<StreamRecorder> recorder) {
    m_recording.start(std::move(recorder));
    send(ScrcpyControl::resetVideo());
}

void AndroidStreamClient::stopRecordingWithFinalFrame(
    std::function<void(std::shared_ptr<StreamRecorder>)> completion) {
    if (!m_recording.stopAtNextKeyFrame(completion)) return completion(nullptr);
    send(ScrcpyControl::resetVideo());
    // Work items hold the raw pointer: the queue is joined before the client is gone.
    m_sendQueue->postAfter(finalFrameWait, [this] { m_recording.completePendingStop(); });
}

std::shared_ptr<StreamRecorder> AndroidStreamClient::takeRecorder() {
    return m_recording.take();
}

std::shared_ptr<PCMAudioPlayer> AndroidStreamClient::audioPlayer() const {
    std::lock_guard guard(m_lock);
    return m_audioPlayer;
}
