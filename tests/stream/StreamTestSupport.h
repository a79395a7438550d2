#pragma once

// Shared by the stream tests: renderer and sound doubles, server packets, a client on socket pairs.
#include "core/VantleLog.h"
#include "stream/AndroidStreamClient.h"
#include "stream/PCMAudioPlayer.h"
#include "stream/SocketIO.h"
#include "stream/StreamStages.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThreadPool>
#include <QUuid>
#include <QtEndian>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

// Keeps every sample the video reader handed on.
class RecordingRenderer : public VideoSink {
public:
    void push(const VideoSample& sample, bool) override {
        std::lock_guard guard(lock);
        samples.push_back(sample.data);
    }
    size_t count() const {
        std::lock_guard guard(lock);
        return samples.size();
    }

    mutable std::mutex lock;
    std::vector<QByteArray> samples;
};

// Keeps each scheduled buffer until the test plays it out, in a `Shared` the test keeps.
class FakeAudioOutput : public AudioOutput {
public:
    struct Shared {
        std::mutex lock;
        std::vector<std::function<void()>> scheduled; // completions, oldest first
        std::vector<float> lastBuffer;
        std::atomic<int> engineStarts = 0, plays = 0, pauses = 0, stops = 0;
        std::atomic<bool> engineAvailable = true;
        // Completes the oldest `count` buffers, as the output does once it has played them.
        void finish(size_t count) {
            std::unique_lock guard(lock);
            count = std::min(count, scheduled.size());
            std::vector<std::function<void()>> done(scheduled.begin(), scheduled.begin() + qsizetype(count));
            scheduled.erase(scheduled.begin(), scheduled.begin() + qsizetype(count));
            guard.unlock();
            for (auto& played : done)
                played();
        }
    };
    explicit FakeAudioOutput(std::shared_ptr<Shared> shared)
        : m_shared(std::move(shared)) {}
    bool startEngine() override {
        ++m_shared->engineStarts;
        return m_shared->engineAvailable;
    }
    void schedule(std::vector<float> interleaved, std::function<void()> played) override {
        std::lock_guard guard(m_shared->lock);
        m_shared->scheduled.push_back(std::move(played));
        m_shared->lastBuffer = std::move(interleaved);
    }
    void play() override { ++m_shared->plays; }
    void pause() override { ++m_shared->pauses; }
    void stop() override {
        ++m_shared->stops;
        std::lock_guard guard(m_shared->lock);
        m_shared->scheduled.clear();
    }

private:
    std::shared_ptr<Shared> m_shared;
};

struct SocketPair {
    int local = -1, remote = -1;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            local = fds[0];
            remote = fds[1];
        }
    }
    void closeRemote() {
        if (remote >= 0) ::close(std::exchange(remote, -1));
    }
};

// This process's open descriptors with what they refer to ("12 socket:[4711]").
inline QStringList openDescriptors() {
    QStringList targets;
    for (const QFileInfo& entry :
         QDir(u"/proc/self/fd"_s).entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        targets.append(entry.fileName() + u" "_s + entry.symLinkTarget());
    return targets;
}
// The inode of a socket descriptor, to find it among the open ones later whatever its number.
inline QString socketName(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? u"socket:[%1]"_s.arg(quint64(info.st_ino)) : QString();
}
// Whether any descriptor of this process still refers to one of these sockets.
inline bool anyStillOpen(const QStringList& sockets) {
    const QString open = openDescriptors().join(u'\n') + u'\n';
    return std::any_of(sockets.cbegin(), sockets.cend(),
                       [&](const QString& s) { return open.contains(s + u'\n'); });
}

inline QByteArray be32(uint32_t value) {
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(value, out.data());
    return out;
}
// A 12-byte packet header: flags and time stamp, then size (or width and height for a session).
inline QByteArray packetHeader(uint64_t flagsAndTime, uint32_t size) {
    return be32(uint32_t(flagsAndTime >> 32)) + be32(uint32_t(flagsAndTime)) + be32(size);
}
inline constexpr uint64_t keyFlag = 0x2000000000000000ull, configFlag = 0x4000000000000000ull;
inline QByteArray sessionPacket(int width, int height) {
    return packetHeader(0x8000000000000000ull | uint32_t(width), uint32_t(height));
}
inline QByteArray mediaPacket(const QByteArray& payload, uint64_t flags = 0) {
    return packetHeader(flags, uint32_t(payload.size())) + payload;
}
inline constexpr uint32_t h264 = 0x68323634, rawAudio = 0x00726177;
// The video socket's start: a device name and the codec.
inline QByteArray videoStart(uint32_t codec = h264) {
    return QByteArray(64, 'n') + be32(codec);
}

// What ffprobe reads in a media file: its streams, and its packets with an MD5 of each one's data.
struct Probe {
    QJsonArray streams, packets;
    QJsonObject stream(const QString& type) const {
        for (const QJsonValue& stream : streams)
            if (stream[u"codec_type"_s] == type) return stream.toObject();
        return {};
    }
    QList<QJsonObject> packetsOf(const QString& type) const {
        QList<QJsonObject> out;
        for (const QJsonValue& packet : packets)
            if (packet[u"codec_type"_s] == type) out.append(packet.toObject());
        return out;
    }
    QStringList hashes(const QString& type) const {
        QStringList out;
        for (const QJsonObject& packet : packetsOf(type))
            out.append(packet[u"data_hash"_s].toString());
        return out;
    }
    QList<bool> keyFrames() const {
        QList<bool> out;
        for (const QJsonObject& packet : packetsOf(u"video"_s))
            out.append(packet[u"flags"_s].toString().startsWith(u'K'));
        return out;
    }
    // "duration" or "start_time" of a stream, in seconds.
    double seconds(const QString& type, const QString& field) const {
        return stream(type)[field].toString().toDouble();
    }
};
inline QString runTool(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return u"%1 failed: %2"_s.arg(tool, QString::fromUtf8(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}
inline Probe probe(const QString& file) {
    const QStringList arguments =
        u"-v error -show_streams -show_packets -show_data_hash MD5 -of json"_s.split(u' ') << file;
    const QJsonObject json = QJsonDocument::fromJson(runTool(u"ffprobe"_s, arguments).toUtf8()).object();
    return {json[u"streams"_s].toArray(), json[u"packets"_s].toArray()};
}
// What ffmpeg says while decoding the whole file: nothing when it plays cleanly from its start.
// Frames keep their arrival times, so two can be closer than the frame rate the SPS declares: the
// null output keeps the file's own time base instead of that rate's, where they would collide.
inline QString decodeErrors(const QString& file) {
    return runTool(u"ffmpeg"_s, QStringList{u"-v"_s, u"error"_s, u"-i"_s, file} +
                                    u"-enc_time_base -1 -f null -"_s.split(u' '));
}
// The "data_hash" ffprobe gives a packet with these bytes.
inline QString dataHash(const QByteArray& data) {
    return u"MD5:"_s + QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

// A log of its own in the test's logs folder.
inline std::shared_ptr<VantleLog> freshLog() {
    return std::make_shared<VantleLog>(QUuid::createUuid().toString(QUuid::WithoutBraces) + u".log"_s,
                                       VantleLog::Opening::truncate);
}
inline QStringList logLines(const VantleLog& log) {
    return log.tail(100000).value_or(QString()).split(u'\n', Qt::SkipEmptyParts);
}
inline qsizetype countLines(const VantleLog& log, const QString& start) {
    const QStringList lines = logLines(log);
    return std::count_if(lines.cbegin(), lines.cend(),
                         [&](const QString& line) { return line.startsWith(start); });
}

// A stream client under test with what it reported to the GUI thread, and fake audio output.
struct ClientUnderTest {
    ScopedSettings settings;
    std::shared_ptr<FakeAudioOutput::Shared> audio = std::make_shared<FakeAudioOutput::Shared>();
    std::shared_ptr<RecordingRenderer> renderer = std::make_shared<RecordingRenderer>();
    std::shared_ptr<VantleLog> log = freshLog();
    std::shared_ptr<AndroidStreamClient> client;
    QList<std::optional<QString>> endings;
    QList<QSize> sizes;
    int firstFrames = 0;
    QList<std::shared_ptr<ImageBox>> snapshots;

    ClientUnderTest() {
        PCMAudioPlayer::setOutputFactory(
            [shared = audio] { return std::make_unique<FakeAudioOutput>(shared); });
    }
    ~ClientUnderTest() { PCMAudioPlayer::setOutputFactory(nullptr); }

    void makeClient(AndroidStreamClient::Config config, std::shared_ptr<VideoSink> with = nullptr) {
        client = AndroidStreamClient::create(std::move(config), with ? with : renderer, log);
        client->onEnded = [this](std::optional<QString> error) { endings.append(error); };
        client->onVideoSize = [this](QSize size) { sizes.append(size); };
        client->onFirstFrame = [this] { ++firstFrames; };
        client->onSnapshot = [this](std::shared_ptr<ImageBox> box) { snapshots.append(box); };
    }
    bool ended(int timeoutMs = 30000) {
        return waitUntil([this] { return !endings.isEmpty(); }, timeoutMs);
    }
    // Drops the test's reference and waits until every reader let the client go, and until the pool
    // thread that stopped its audio player has finished (its event dispatcher holds a descriptor).
    bool released(int timeoutMs = 30000) {
        const std::weak_ptr<AndroidStreamClient> weak = std::exchange(client, nullptr);
        const bool gone = waitUntil([&] { return weak.expired(); }, timeoutMs);
        QThreadPool::globalInstance()->waitForDone();
        return gone;
    }
};

// A client on three socket pairs; after each test it lets every socket go, having ended once at most.
class StreamClientFixture : public ::testing::Test, protected ClientUnderTest {
protected:
    SocketPair video, control, sound;
    // The client's ends, by identity: descriptor numbers are reused, and other threads of the test
    // program open and close descriptors of their own meanwhile.
    QStringList clientSockets{socketName(video.local), socketName(control.local), socketName(sound.local)};
    bool served = false;

    void SetUp() override { makeClient(socketConfig()); }
    void TearDown() override {
        if (client) client->stop();
        for (SocketPair* pair : {&video, &control, &sound}) {
            pair->closeRemote();
            if (!served) ::close(pair->local);
        }
        EXPECT_TRUE(released());
        QCoreApplication::sendPostedEvents();
        EXPECT_LE(endings.size(), 1);
        EXPECT_TRUE(waitUntil([this] { return !anyStillOpen(clientSockets); }))
            << openDescriptors().join(u'\n').toStdString();
    }

    static AndroidStreamClient::Config socketConfig() {
        return {u"/nonexistent/adb"_s,  u"emulator-5556"_s, {},
                u"org.example.notes"_s, QSizeF(1080, 2088), 320};
    }
    void serve(bool withAudio = true) {
        served = true;
        std::thread([client = client, v = video.local, c = control.local, a = withAudio ? sound.local : -1] {
            client->serve(v, c, a, std::chrono::steady_clock::now());
        }).detach();
        if (!withAudio) ::close(sound.local);
    }
    void sendVideo(const QByteArray& bytes) { ASSERT_TRUE(writeAll(video.remote, bytes)); }
    // The control bytes the client sent, `count` of them, or what arrived within `timeoutMs`.
    QByteArray readControl(qsizetype count, int timeoutMs = 5000) {
        QByteArray out;
        const QDeadlineTimer deadline(timeoutMs);
        pollfd poller{control.remote, POLLIN, 0};
        while (out.size() < count && ::poll(&poller, 1, int(deadline.remainingTime())) > 0) {
            char buffer[4096];
            const ssize_t got =
                ::read(control.remote, buffer, size_t(std::min<qsizetype>(count - out.size(), 4096)));
            if (got <= 0) break;
            out.append(buffer, got);
        }
        return out;
    }
    // The start-app message, the first the client sends.
    static QByteArray startApp() { return QByteArray("\x10\x12+org.example.notes", 20); }
};
