#pragma once

#include "core/VantleLog.h"
#include "stream/AndroidStreamClient.h"
#include "stream/PCMAudioPlayer.h"
#include "stream/VideoRenderer.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QStringList>
#include <QThreadPool>
#include <QUuid>
#include <QtEndian>
#include <atomic>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// A VideoRenderer double that records what the video reader queued, and can be put into the
// failed state or ask for a flush like a decoder that lost its reference picture.
class RecordingRenderer : public VideoRenderer {
public:
    Status status() const override { return failed ? Status::failed : Status::rendering; }
    bool requiresFlushToResumeDecoding() const override { return needsFlush; }
    void flush() override {
        std::lock_guard guard(lock);
        ++flushes;
        failed = false;
        needsFlush = false;
    }
    void enqueue(const VideoSample& sample) override {
        std::lock_guard guard(lock);
        samples.push_back(sample.data);
    }
    size_t count() const {
        std::lock_guard guard(lock);
        return samples.size();
    }

    mutable std::mutex lock;
    std::vector<QByteArray> samples;
    int flushes = 0;
    std::atomic<bool> failed{false}, needsFlush{false};
};

// An AudioOutput double: keeps every scheduled buffer until the test plays it out.
class FakeAudioOutput : public AudioOutput {
public:
    struct Shared {
        std::mutex lock;
        std::vector<std::pair<size_t, std::function<void()>>> scheduled; // samples, completion
        int engineStarts = 0, plays = 0, pauses = 0, stops = 0;
        bool engineAvailable = true;
        // Completes the oldest `count` buffers, as the output does once it has played them.
        void finish(size_t count) {
            std::vector<std::function<void()>> done;
            {
                std::lock_guard guard(lock);
                for (size_t i = 0; i < count && !scheduled.empty(); ++i) {
                    done.push_back(std::move(scheduled.front().second));
                    scheduled.erase(scheduled.begin());
                }
            }
            for (auto& played : done)
                played();
        }
    };
    explicit FakeAudioOutput(std::shared_ptr<Shared> shared)
        : m_shared(std::move(shared)) {}
    bool startEngine() override {
        std::lock_guard guard(m_shared->lock);
        ++m_shared->engineStarts;
        return m_shared->engineAvailable;
    }
    void schedule(std::vector<float> interleaved, std::function<void()> played) override {
        std::lock_guard guard(m_shared->lock);
        m_shared->scheduled.emplace_back(interleaved.size(), std::move(played));
        lastBuffer = std::move(interleaved);
    }
    void play() override {
        std::lock_guard guard(m_shared->lock);
        ++m_shared->plays;
    }
    void pause() override {
        std::lock_guard guard(m_shared->lock);
        ++m_shared->pauses;
    }
    void stop() override {
        std::lock_guard guard(m_shared->lock);
        ++m_shared->stops;
        m_shared->scheduled.clear();
    }
    std::vector<float> lastBuffer;

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
        if (remote >= 0) ::close(remote);
        remote = -1;
    }
};

inline QStringList openDescriptors() {
    QStringList targets;
    for (const QFileInfo& entry : QDir(QStringLiteral("/proc/self/fd"))
                                      .entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        targets.append(entry.fileName() + QStringLiteral(" ") + entry.symLinkTarget());
    return targets;
}
inline int openDescriptorCount() {
    return int(openDescriptors().size());
}
// The inode of a socket descriptor, to find it among the open ones later whatever its number.
inline QString socketName(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return {};
    return QStringLiteral("socket:[%1]").arg(quint64(info.st_ino));
}
// Whether any descriptor of this process still refers to one of these sockets.
inline bool anyStillOpen(const QStringList& sockets) {
    for (const QString& open : openDescriptors())
        for (const QString& socket : sockets)
            if (open.endsWith(socket)) return true;
    return false;
}

inline QByteArray be32(uint32_t value) {
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(value, out.data());
    return out;
}
inline QByteArray be64(uint64_t value) {
    QByteArray out(8, Qt::Uninitialized);
    qToBigEndian(value, out.data());
    return out;
}
// A 12-byte packet header: flags and time stamp, then size (or width and height for a session).
inline QByteArray packetHeader(uint64_t flagsAndTime, uint32_t size) {
    return be64(flagsAndTime) + be32(size);
}
inline constexpr uint64_t keyFlag = 0x2000000000000000ull;
inline constexpr uint64_t configFlag = 0x4000000000000000ull;
inline QByteArray sessionPacket(int width, int height) {
    return packetHeader(0x8000000000000000ull | uint32_t(width), uint32_t(height));
}
inline QByteArray mediaPacket(const QByteArray& payload, uint64_t flags) {
    return packetHeader(flags, uint32_t(payload.size())) + payload;
}

// Counts what an active recording would get: frames, key frames, audio packets.
class CountingRecorder : public StreamRecorderSink {
public:
    void appendVideo(const VideoSample&, const VideoFormatRef&, bool keyFrame) override {
        ++frames;
        if (keyFrame) ++keyFrames;
    }
    void appendAudio(const QByteArray&) override { ++audioPackets; }
    std::atomic<int> frames{0}, keyFrames{0}, audioPackets{0};
};

// A log of its own in the test's logs folder.
inline std::shared_ptr<VantleLog> freshLog() {
    return std::make_shared<VantleLog>(QUuid::createUuid().toString(QUuid::WithoutBraces) +
                                           QStringLiteral(".log"),
                                       VantleLog::Opening::truncate);
}
inline QStringList logLines(const VantleLog& log) {
    return log.tail(100000).value_or(QString()).split(u'\n', Qt::SkipEmptyParts);
}
inline int countLines(const VantleLog& log, const QString& start) {
    int count = 0;
    for (const QString& line : logLines(log))
        if (line.startsWith(start)) ++count;
    return count;
}

// Drops the test's reference to a stream client and waits until every reader let it go, and until
// the pool thread that stopped its audio player has finished (that thread's event dispatcher holds
// a descriptor of its own).
template <typename Client> bool releaseClient(std::shared_ptr<Client>& client, int timeoutMs) {
    const std::weak_ptr<Client> weak = client;
    client.reset();
    const bool gone = waitUntil([&] { return weak.expired(); }, timeoutMs);
    QThreadPool::globalInstance()->waitForDone();
    return gone;
}

// A stream client under test with what it reported to the GUI thread, and fake audio output.
// Fixtures derive from it; `makeClient` wires the callbacks.
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

    void makeClient(AndroidStreamClient::Config config, std::shared_ptr<VideoRenderer> with = nullptr) {
        client = AndroidStreamClient::create(std::move(config), with ? with : renderer, log);
        client->onEnded = [this](std::optional<QString> error) { endings.append(error); };
        client->onVideoSize = [this](QSize size) { sizes.append(size); };
        client->onFirstFrame = [this] { ++firstFrames; };
        client->onSnapshot = [this](std::shared_ptr<ImageBox> box) { snapshots.append(box); };
    }
    bool ended(int timeoutMs = 10000) {
        return waitUntil([this] { return !endings.isEmpty(); }, timeoutMs);
    }
    bool released(int timeoutMs = 10000) { return releaseClient(client, timeoutMs); }
};
