#include "stream/QtAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>
#include <cstring>
#include <deque>
#include <pthread.h>
#include <sched.h>

// The queue the sink pulls from, and the buffers the sink took but has not played yet. A buffer's
// completion runs once the sink reports its last frame as played (`processedUSecs`), not when the
// sink takes it: the sink keeps up to its own buffer size (about 145 ms on PulseAudio) queued on the
// sound server, and the jitter buffer's rules are about what is still to be heard.
class PCMSource : public QIODevice {
public:
    explicit PCMSource(int channels)
        : m_bytesPerFrame(qint64(channels * sizeof(float))) {}

    // Any thread. An idle pull-mode sink stops asking for data until the source reports more.
    void push(std::vector<float> samples, std::function<void()> played) {
        {
            std::lock_guard guard(m_lock);
            if (m_closed) return;
            m_queued.push_back({std::move(samples), 0, std::move(played)});
        }
        Q_EMIT readyRead();
    }
    // Drops every buffer without completing it (the output is going away).
    void clear() {
        std::lock_guard guard(m_lock);
        m_queued.clear();
        m_inSink.clear();
        m_closed = true;
    }
    // The completions of the buffers that end at or before `playedFrames` (frames since the sink
    // started), in order.
    std::vector<std::function<void()>> takePlayed(qint64 playedFrames) {
        std::vector<std::function<void()>> done;
        std::lock_guard guard(m_lock);
        while (!m_inSink.empty() && m_inSink.front().endFrame <= playedFrames) {
            done.push_back(std::move(m_inSink.front().played));
            m_inSink.pop_front();
        }
        return done;
    }
    // The sink (re)starts from nothing: `processedUSecs` counts from here. What the stopped sink
    // held is over, so its completions are returned; a buffer it took part of counts only its rest.
    std::vector<std::function<void()>> restart() {
        std::vector<std::function<void()>> done;
        std::lock_guard guard(m_lock);
        for (InSink& buffer : m_inSink)
            done.push_back(std::move(buffer.played));
        m_inSink.clear();
        m_pulledFrames = m_queued.empty() ? 0 : -m_queued.front().offset / m_bytesPerFrame;
        return done;
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        std::lock_guard guard(m_lock);
        qint64 total = 0;
        for (const Queued& buffer : m_queued)
            total += qint64(buffer.samples.size() * sizeof(float)) - buffer.offset;
        return total + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        maxSize -= maxSize % m_bytesPerFrame; // whole frames only, so frame counts stay exact
        std::lock_guard guard(m_lock);
        qint64 done = 0;
        while (done < maxSize && !m_queued.empty()) {
            Queued& buffer = m_queued.front();
            const qint64 size = qint64(buffer.samples.size() * sizeof(float));
            const qint64 take = std::min(maxSize - done, size - buffer.offset);
            std::memcpy(data + done, reinterpret_cast<const char*>(buffer.samples.data()) + buffer.offset,
                        size_t(take));
            done += take;
            buffer.offset += take;
            if (buffer.offset == size) {
                m_pulledFrames += size / m_bytesPerFrame;
                m_inSink.push_back({m_pulledFrames, std::move(buffer.played)});
                m_queued.pop_front();
            }
        }
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    struct Queued {
        std::vector<float> samples;
        qint64 offset;
        std::function<void()> played;
    };
    struct InSink {
        qint64 endFrame; // frames the sink had taken once this buffer was complete
        std::function<void()> played;
    };
    const qint64 m_bytesPerFrame;
    mutable std::mutex m_lock;
    std::deque<Queued> m_queued;
    std::deque<InSink> m_inSink;
    qint64 m_pulledFrames = 0; // whole buffers only; a partly taken buffer counts once complete
    bool m_closed = false;
};

QtAudioOutput::QtAudioOutput(int sampleRate, int channels)
    : m_sampleRate(sampleRate)
    , m_channels(channels)
    , m_source(std::make_shared<PCMSource>(channels)) {
    m_thread.setObjectName(QStringLiteral("vantle.audio"));
    m_context = new QObject;
    m_playedPoll = new QTimer(m_context);
    m_playedPoll->setTimerType(Qt::PreciseTimer);
    m_playedPoll->setInterval(playedPollMs);
    QObject::connect(m_playedPoll, &QTimer::timeout, m_context, [this] { completePlayed(); });
    m_context->moveToThread(&m_thread);
    m_source->moveToThread(&m_thread);
    m_source->open(QIODevice::ReadOnly);
    m_thread.start();
    // The sound server plays in real time: when this thread waits behind other work for longer
    // than the 60 ms the sink holds, the sound breaks up although the packets are there. It does
    // little work, so it asks for the lowest real-time priority; without the right to (most users
    // without an rtkit-style grant) it runs as before.
    onAudioThread([] {
        sched_param parameter{};
        parameter.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_RR, &parameter);
    });
}

QtAudioOutput::~QtAudioOutput() {
    stop();
    onAudioThread([this] {
        delete m_context; // and the poll timer with it
        m_context = nullptr;
        m_playedPoll = nullptr;
    });
    m_thread.quit();
    m_thread.wait();
}

void QtAudioOutput::onAudioThread(const std::function<void()>& work) {
    if (!m_context) return;
    QMetaObject::invokeMethod(
        m_context, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

// On the audio thread, every few milliseconds while the sink runs (between `play` and `pause`).
void QtAudioOutput::completePlayed() {
    if (!m_sink) return;
    const qint64 playedFrames = m_sink->processedUSecs() * m_sampleRate / 1'000'000;
    for (auto& played : m_source->takePlayed(playedFrames))
        if (played) played();
}

bool QtAudioOutput::startEngine() {
    std::lock_guard guard(m_callLock);
    if (m_stopped) return false;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return false;
    bool started = false;
    onAudioThread([&] {
        QAudioFormat format;
        format.setSampleRate(m_sampleRate);
        format.setChannelCount(m_channels);
        format.setSampleFormat(QAudioFormat::Float);
        if (!device.isFormatSupported(format)) return;
        m_sink = new QAudioSink(device, format, m_context);
        started = true;
    });
    return started;
}

void QtAudioOutput::schedule(std::vector<float> interleaved, std::function<void()> played) {
    m_source->push(std::move(interleaved), std::move(played));
}

void QtAudioOutput::play() {
    std::lock_guard guard(m_callLock);
    if (m_stopped) return;
    onAudioThread([this] {
        if (!m_sink) return;
        if (m_sink->state() == QAudio::SuspendedState)
            m_sink->resume();
        else if (m_sink->state() == QAudio::StoppedState) {
            // A sink the sound server stopped starts again at frame 0.
            for (auto& played : m_source->restart())
                if (played) played();
            m_sink->start(m_source.get());
        }
        m_playedPoll->start();
    });
}

void QtAudioOutput::pause() {
    std::lock_guard guard(m_callLock);
    if (m_stopped) return;
    onAudioThread([this] {
        m_playedPoll->stop(); // a suspended sink plays nothing
        if (m_sink && m_sink->state() != QAudio::StoppedState) m_sink->suspend();
    });
}

void QtAudioOutput::stop() {
    std::lock_guard guard(m_callLock);
    if (m_stopped) return;
    m_stopped = true;
    m_source->clear();
    onAudioThread([this] {
        m_playedPoll->stop();
        if (!m_sink) return;
        m_sink->stop();
        delete m_sink;
        m_sink = nullptr;
    });
}
