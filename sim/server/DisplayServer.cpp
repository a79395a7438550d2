#include "sim/server/DisplayServer.h"

#include "sim/screen/DeviceScreen.h"
#include "sim/server/H264Encoder.h"
#include "sim/server/ReplayFile.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char* launcher = "com.android.launcher3/.uioverrides.QuickstepLauncher";
constexpr int defaultFps = 60;
constexpr int audioFramesPerPacket = 960; // 20 ms at 48 kHz
constexpr uint64_t configFlag = 1ull << 62, keyFlag = 1ull << 61;

void putBE(QByteArray& bytes, uint64_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xff));
}

// 12-byte packet header: flags and presentation time (u64), payload size (u32).
QByteArray packet(uint64_t flagsAndPts, const QByteArray& payload) {
    QByteArray bytes;
    bytes.reserve(12 + payload.size());
    putBE(bytes, flagsAndPts, 8);
    putBE(bytes, uint64_t(payload.size()), 4);
    return bytes + payload;
}

// Session packet: bit 63 set, width in bytes 4-7, height in bytes 8-11, no payload.
QByteArray sessionPacket(int width, int height) {
    QByteArray bytes;
    putBE(bytes, 0x80000000u, 4);
    putBE(bytes, uint64_t(width), 4);
    putBE(bytes, uint64_t(height), 4);
    return bytes;
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// The abstract Unix socket a reverse forward listens on (Android's LocalSocket namespace), as the
// server reaches its client through adbd; -1 when nothing listens there.
int connectAbstract(const QString& name) {
    const QByteArray bytes = name.toUtf8();
    sockaddr_un address{};
    if (bytes.isEmpty() || std::size_t(bytes.size()) >= sizeof address.sun_path) return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, bytes.constData(), std::size_t(bytes.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(bytes.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Video sizes must be even for 4:2:0; tiny requests are raised to a usable minimum.
int evenSize(int value) {
    return std::max(16, value & ~1);
}

} // namespace

DisplayServer::DisplayServer(const AdbDevice& device, const ServerOptions& options)
    : m_device(device)
    , m_options(options)
    , m_state(device.facts.dataRoot) {
    const QJsonObject state = m_state.read();
    m_faults = state.value(u"faults"_s).toObject().value(u"server"_s).toObject();
    const QJsonObject hardware =
        QJsonDocument::fromJson(m_state.readFile("runtime.json")).object().value(u"hardware"_s).toObject();
    m_width =
        evenSize(options.width > 0 ? options.width : hardware.value(u"hw.lcd.width"_s).toString().toInt());
    m_height =
        evenSize(options.height > 0 ? options.height : hardware.value(u"hw.lcd.height"_s).toString().toInt());
    m_lastClipboard = state.value(u"clipboard"_s).toString();
    // A new virtual display starts empty: no app until the client starts one.
    m_screen.night = state.value(u"nightMode"_s).toString() == u"yes"_s;
    m_state.update([&](QJsonObject& s) {
        m_displayId = s.value(u"nextDisplayId"_s).toInt(2);
        s.insert(u"nextDisplayId"_s, m_displayId + 1);
        return true;
    });
}

DisplayServer::~DisplayServer() {
    for (int fd : {m_videoFd, m_audioFd, m_controlFd})
        if (fd >= 0) close(fd);
}

void DisplayServer::record(const QString& kind, QJsonObject event) {
    event.insert(u"type"_s, kind);
    event.insert(u"displayId"_s, m_displayId);
    m_state.record(event);
}

bool DisplayServer::connectSockets(const std::function<int()>& connectOne) {
    // Same order as the client accepts them: video, audio, control.
    if (m_options.video && (m_videoFd = connectOne()) < 0) return false;
    if (m_options.audio && (m_audioFd = connectOne()) < 0) return false;
    if (m_options.control && (m_controlFd = connectOne()) < 0) return false;
    return true;
}

int DisplayServer::run() {
    const QString name = m_options.socketName();
    std::printf("[server] INFO: New display: %dx%d/%d (id=%d)\n", m_width, m_height,
                m_options.dpi > 0 ? m_options.dpi : 420, m_displayId);
    std::fflush(stdout);
    // Google's adb forwards the abstract socket through the emulator's adbd, which listens on it;
    // the stand-in adb has no daemon and records the tunnel's host port in the device state.
    bool connected = false;
    if (const int probe = connectAbstract(name); probe >= 0) {
        bool first = true;
        connected =
            connectSockets([&] { return std::exchange(first, false) ? probe : connectAbstract(name); });
        if (first) close(probe); // no stream wanted it
    } else {
        const QString target =
            m_state.read().value(u"reverse"_s).toObject().value(u"localabstract:"_s + name).toString();
        connected = target.startsWith(u"tcp:"_s) &&
                    connectSockets([port = target.mid(4).toInt()] { return connectTo(port); });
    }
    if (!connected) {
        std::fprintf(stderr, "[server] ERROR: Exception on thread Thread[main,5,main]\njava.io.IOException: "
                             "Connection refused\n");
        return 1;
    }
    record(u"server"_s,
           QJsonObject{{u"event"_s, u"connected"_s}, {u"width"_s, m_width}, {u"height"_s, m_height}});
    std::thread control, audio;
    if (m_controlFd >= 0) control = std::thread([this] { controlLoop(); });
    if (m_audioFd >= 0) audio = std::thread([this] { audioLoop(); });
    const QString replay = m_faults.value(u"replay"_s).toString();
    if (m_videoFd >= 0) {
        if (replay.isEmpty())
            videoLoop();
        else
            replayLoop(replay, m_faults.value(u"replayFps"_s).toDouble());
    } else {
        std::unique_lock lock(m_lock);
        m_wake.wait(lock, [this] { return m_stopping.load(); });
    }
    stop();
    if (control.joinable()) control.join();
    if (audio.joinable()) audio.join();
    record(u"server"_s, QJsonObject{{u"event"_s, u"ended"_s}});
    return 0;
}

void DisplayServer::stop() {
    m_stopping = true;
    m_wake.notify_all();
    for (int fd : {m_videoFd, m_audioFd, m_controlFd})
        if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

bool DisplayServer::sendVideo(const QByteArray& bytes) {
    if (writeAll(m_videoFd, bytes)) return true;
    stop();
    return false;
}

void DisplayServer::sendDevice(const QByteArray& bytes) {
    std::lock_guard lock(m_controlWriteLock);
    if (m_controlFd >= 0) writeAll(m_controlFd, bytes);
}

void DisplayServer::videoLoop() {
    QByteArray header(64, '\0');
    header.replace(0, 19, "sdk_gphone64_x86_64");
    putBE(header, uint64_t(m_faults.value(u"videoCodecId"_s).toInteger(h264CodecId)), 4);
    if (!sendVideo(header)) return;
    const int fps = m_options.maxFps > 0 ? int(std::ceil(m_options.maxFps)) : defaultFps;
    const auto interval = std::chrono::microseconds(1000000 / std::max(1, fps));
    const qint64 dieAfter = m_faults.value(u"dieAfterFrames"_s).toInteger(-1);
    const auto start = std::chrono::steady_clock::now();
    auto next = start, lastPoll = start - std::chrono::seconds(1);
    std::unique_ptr<H264Encoder> encoder;
    ScreenImage image;
    int64_t frame = 0;
    while (!m_stopping) {
        if (std::chrono::steady_clock::now() - lastPoll > std::chrono::milliseconds(250)) {
            followDeviceState();
            lastPoll = std::chrono::steady_clock::now();
        }
        ScreenState screen;
        bool newSession = false, key = false;
        {
            std::lock_guard lock(m_lock);
            newSession = m_sizeChanged || !encoder;
            m_sizeChanged = false;
            key = m_keyFrameRequested || newSession;
            m_keyFrameRequested = false;
            m_screen.frame = uint64_t(frame);
            m_screen.clockMs = QDateTime::currentMSecsSinceEpoch();
            screen = m_screen;
        }
        if (newSession) {
            try {
                encoder = std::make_unique<H264Encoder>(m_width, m_height, fps, m_options.bitRate);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "[server] ERROR: %s\n", error.what());
                return;
            }
            image = ScreenImage(m_width, m_height);
            if (!sendVideo(sessionPacket(m_width, m_height)) ||
                !sendVideo(packet(configFlag, encoder->parameterSets())))
                return;
        }
        ScreenPainter::paint(image, screen);
        const uint64_t pts = uint64_t(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
                .count());
        for (const EncodedFrame& out : encoder->encode(image, frame, key))
            if (!sendVideo(packet(pts | (out.key ? keyFlag : 0), out.data))) return;
        if (++frame == dieAfter) {
            std::fprintf(stderr, "[server] ERROR: simulated crash after %lld frames\n",
                         static_cast<long long>(frame));
            std::fflush(stderr);
            _exit(1);
        }
        next += interval;
        std::unique_lock lock(m_lock);
        m_wake.wait_until(lock, next,
                          [this] { return m_stopping.load() || m_keyFrameRequested || m_sizeChanged; });
        if (std::chrono::steady_clock::now() > next + interval) next = std::chrono::steady_clock::now();
    }
}

void DisplayServer::replayLoop(const QString& path, double fps) {
    const std::optional<ReplayFile> replay = ReplayFile::load(path);
    QByteArray header(64, '\0');
    header.replace(0, 19, "sdk_gphone64_x86_64");
    putBE(header, h264CodecId, 4);
    if (!replay) {
        std::fprintf(stderr, "[server] ERROR: cannot read replay file %s\n", qPrintable(path));
        return;
    }
    if (!sendVideo(header) || !sendVideo(sessionPacket(replay->width, replay->height)) ||
        !sendVideo(packet(configFlag, replay->parameterSets)))
        return;
    // Whole packets are prepared once; the loop only writes, so the client is the bottleneck.
    std::vector<QByteArray> packets;
    for (const ReplayFile::Frame& frame : replay->frames)
        packets.push_back(packet(frame.key ? keyFlag : 0, frame.data));
    const auto interval =
        fps > 0 ? std::chrono::microseconds(int64_t(1e6 / fps)) : std::chrono::microseconds(0);
    auto next = std::chrono::steady_clock::now();
    for (size_t i = 0; !m_stopping; i = (i + 1) % packets.size()) {
        if (!sendVideo(packets[i])) return;
        if (fps > 0) {
            next += interval;
            std::this_thread::sleep_until(next);
        }
    }
}

void DisplayServer::followDeviceState() {
    const QJsonObject state = m_state.read();
    const QString resumed = state.value(u"resumed"_s).toString();
    const QString clipboard = state.value(u"clipboard"_s).toString();
    {
        std::lock_guard lock(m_lock);
        // An app stopped from elsewhere (am force-stop, uninstall) leaves this display empty.
        if (!m_screen.package.isEmpty() && resumed.section(u'/', 0, 0) != m_screen.package) {
            m_screen.package.clear();
            m_screen.label.clear();
        }
        m_screen.night = state.value(u"nightMode"_s).toString() == u"yes"_s;
        m_screen.statusLine = clipboard.isEmpty() ? QString() : u"clipboard: "_s + clipboard;
    }
    if (clipboard != m_lastClipboard) {
        m_lastClipboard = clipboard;
        if (m_options.clipboardAutosync && !clipboard.isEmpty())
            sendDevice(ControlMessages::clipboard(clipboard));
    }
}

void DisplayServer::startApp(const QString& name) {
    const bool restart = name.startsWith(u'+');
    const QString package = restart ? name.mid(1) : name;
    const QJsonObject record = m_state.read().value(u"packages"_s).toObject().value(package).toObject();
    const QString activity = record.value(u"launcher"_s).toString();
    if (activity.isEmpty()) {
        std::fprintf(stderr, "[server] WARN: No app found for package \"%s\"\n", qPrintable(package));
        return;
    }
    m_state.update([&](QJsonObject& s) {
        s.insert(u"resumed"_s, activity);
        return true;
    });
    std::lock_guard lock(m_lock);
    if (restart || m_screen.package != package) {
        m_screen.touches.clear();
        m_screen.typed.clear();
    }
    m_screen.package = package;
    m_screen.label = DeviceScreen::labelFor(package);
    m_keyFrameRequested = true;
    m_wake.notify_all();
}

void DisplayServer::leaveApp() {
    // Back on an app's first screen finishes it: the launcher becomes the resumed activity.
    m_state.update([&](QJsonObject& s) {
        s.insert(u"resumed"_s, QLatin1StringView(launcher));
        return true;
    });
    std::lock_guard lock(m_lock);
    m_screen.package.clear();
    m_screen.label.clear();
}

void DisplayServer::controlLoop() {
    QByteArray buffer;
    char chunk[65536];
    while (!m_stopping) {
        const ssize_t n = read(m_controlFd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // the client closed the control socket: the session ends
        buffer.append(chunk, n);
        for (;;) {
            const ControlMessages::Decoded decoded = ControlMessages::decode(buffer);
            if (decoded.status == ControlMessages::Decoded::needMore) break;
            if (decoded.status == ControlMessages::Decoded::malformed) {
                std::fprintf(stderr,
                             "[server] ERROR: Controller error\ncom.genymobile.scrcpy.control."
                             "ControlProtocolException: %s\n",
                             qPrintable(decoded.error));
                record(u"control"_s, QJsonObject{{u"malformed"_s, decoded.error}});
                stop();
                return;
            }
            buffer.remove(0, decoded.consumed);
            apply(decoded.message);
        }
    }
    stop();
}

void DisplayServer::apply(const ControlMessage& m) {
    QJsonObject event{{u"message"_s, int(m.type)}};
    switch (m.type) {
    case ControlMessage::key:
        event.insert(u"action"_s, m.action);
        event.insert(u"keycode"_s, qint64(m.keycode));
        event.insert(u"meta"_s, qint64(m.meta));
        if (m.action == 1 && m.keycode == 4) leaveApp();
        if (m.action == 0 && m.keycode == 67) {
            std::lock_guard lock(m_lock);
            m_screen.typed.chop(1);
        }
        if (m.action == 0 && (m.keycode == 85 || m.keycode == 126 || m.keycode == 127))
            m_state.update([&](QJsonObject& s) {
                QJsonArray sessions = s.value(u"mediaSessions"_s).toArray();
                if (sessions.isEmpty()) return false;
                QJsonObject session = sessions.first().toObject();
                const bool playing = session.value(u"state"_s).toInt() == 3;
                session.insert(u"state"_s, m.keycode == 126 ? 3 : m.keycode == 127 ? 2 : (playing ? 2 : 3));
                sessions.replace(0, session);
                s.insert(u"mediaSessions"_s, sessions);
                return true;
            });
        break;
    case ControlMessage::text: {
        event.insert(u"text"_s, m.string);
        std::lock_guard lock(m_lock);
        m_screen.typed = (m_screen.typed + m.string).right(200);
        break;
    }
    case ControlMessage::touch: {
        event.insert(u"action"_s, m.action);
        event.insert(u"x"_s, m.x);
        event.insert(u"y"_s, m.y);
        event.insert(u"screenWidth"_s, m.screenWidth);
        event.insert(u"screenHeight"_s, m.screenHeight);
        event.insert(u"pressure"_s, m.pressure);
        std::lock_guard lock(m_lock);
        // As the real server does, a touch made for another display size is dropped.
        if (m.screenWidth != m_width || m.screenHeight != m_height) {
            event.insert(u"ignored"_s, true);
        } else if (m.action != 1) {
            m_screen.touches.append(QPoint(m.x, m.y));
            while (m_screen.touches.size() > ScreenPainter::maxTouches)
                m_screen.touches.removeFirst();
        }
        break;
    }
    case ControlMessage::scroll:
        event.insert(u"x"_s, m.x);
        event.insert(u"y"_s, m.y);
        event.insert(u"hscroll"_s, m.hscroll);
        event.insert(u"vscroll"_s, m.vscroll);
        break;
    case ControlMessage::back:
        event.insert(u"action"_s, m.action);
        if (m.action == 1) leaveApp();
        break;
    case ControlMessage::getClipboard:
        event.insert(u"copyKey"_s, m.action);
        sendDevice(ControlMessages::clipboard(m_state.read().value(u"clipboard"_s).toString()));
        break;
    case ControlMessage::setClipboard:
        event.insert(u"text"_s, m.string);
        event.insert(u"sequence"_s, qint64(m.sequence));
        event.insert(u"paste"_s, m.paste);
        m_state.update([&](QJsonObject& s) {
            s.insert(u"clipboard"_s, m.string);
            return true;
        });
        m_lastClipboard = m.string; // a clipboard the client set is not echoed back
        if (m.paste) {
            std::lock_guard lock(m_lock);
            m_screen.typed = (m_screen.typed + m.string).right(200);
        }
        if (m.sequence != 0) sendDevice(ControlMessages::acknowledgement(m.sequence));
        break;
    case ControlMessage::startApp:
        event.insert(u"name"_s, m.string);
        startApp(m.string);
        break;
    case ControlMessage::resetVideo: {
        std::lock_guard lock(m_lock);
        m_keyFrameRequested = true;
        m_wake.notify_all();
        break;
    }
    case ControlMessage::resizeDisplay: {
        event.insert(u"width"_s, m.width);
        event.insert(u"height"_s, m.height);
        std::lock_guard lock(m_lock);
        m_width = evenSize(m.width);
        m_height = evenSize(m.height);
        m_screen.touches.clear();
        m_sizeChanged = true;
        m_wake.notify_all();
        break;
    }
    default:
        break;
    }
    record(u"control"_s, event);
}

void DisplayServer::audioLoop() {
    const uint32_t requested = m_options.audioCodec == u"raw"_s ? rawCodecId : 0x6f707573; // "opus"
    const uint32_t codec = uint32_t(m_faults.value(u"audioCodecId"_s).toInteger(requested));
    QByteArray header;
    putBE(header, codec, 4);
    if (!writeAll(m_audioFd, header) || codec != rawCodecId) return;
    const auto start = std::chrono::steady_clock::now();
    int64_t sample = 0;
    for (int64_t packetIndex = 0; !m_stopping; ++packetIndex) {
        QByteArray pcm(audioFramesPerPacket * 4, Qt::Uninitialized);
        auto* out = reinterpret_cast<int16_t*>(pcm.data());
        for (int i = 0; i < audioFramesPerPacket; ++i, ++sample) {
            const auto value = int16_t(8000.0 * std::sin(2.0 * M_PI * toneHz * double(sample) / 48000.0));
            out[2 * i] = value; // little-endian on this host, as the protocol wants
            out[2 * i + 1] = value;
        }
        const uint64_t pts = uint64_t(packetIndex) * 20000;
        if (!writeAll(m_audioFd, packet(pts, pcm))) return;
        std::unique_lock lock(m_lock);
        m_wake.wait_until(lock, start + std::chrono::milliseconds(20 * (packetIndex + 1)),
                          [this] { return m_stopping.load(); });
    }
}
