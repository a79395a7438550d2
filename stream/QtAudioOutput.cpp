#include "stream/QtAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <cstring>
#include <deque>

// The queue the sink pulls from: whole buffers in scheduling order; a buffer's completion runs
// once its last byte was handed to the sink.
class PCMSource : public QIODevice {
public:
    void push(std::vector<float> samples, std::function<void()> played) {
        std::lock_guard guard(m_lock);
        m_buffers.push_back({std::move(samples), 0, std::move(played)});
    }
    // Drops every buffer without completing it (the player is going away).
    void clear() {
        std::lock_guard guard(m_lock);
        m_buffers.clear();
        m_closed = true;
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        std::lock_guard guard(m_lock);
        qint64 total = 0;
        for (const Buffer& buffer : m_buffers)
            total += qint64(buffer.samples.size() * sizeof(float)) - buffer.offset;
        return total + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        std::vector<std::function<void()>> finished;
        qint64 done = 0;
        {
            std::lock_guard guard(m_lock);
            while (done < maxSize && !m_buffers.empty()) {
                Buffer& buffer = m_buffers.front();
                const qint64 size = qint64(buffer.samples.size() * sizeof(float));
                const qint64 take = std::min(maxSize - done, size - buffer.offset);
                std::memcpy(data + done, reinterpret_cast<const char*>(buffer.samples.data()) + buffer.offset,
                            size_t(take));
                done += take;
                buffer.offset += take;
                if (buffer.offset == size) {
                    finished.push_back(std::move(buffer.played));
                    m_buffers.pop_front();
                }
            }
            if (m_closed) finished.clear();
        }
        for (auto& played : finished)
            if (played) played();
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    struct Buffer {
        std::vector<float> samples;
        qint64 offset;
        std::function<void()> played;
    };
    mutable std::mutex m_lock;
    std::deque<Buffer> m_buffers;
    bool m_closed = false;
};

QtAudioOutput::QtAudioOutput(int sampleRate, int channels)
    : m_sampleRate(sampleRate)
    , m_channels(channels)
    , m_source(std::make_shared<PCMSource>()) {
    m_thread.setObjectName(QStringLiteral("vantle.audio"));
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_source->moveToThread(&m_thread);
    m_source->open(QIODevice::ReadOnly);
    m_thread.start();
}

QtAudioOutput::~QtAudioOutput() {
    stop();
    onAudioThread([this] {
        delete m_context;
        m_context = nullptr;
    });
    m_thread.quit();
    m_thread.wait();
}

void QtAudioOutput::onAudioThread(const std::function<void()>& work) {
    if (!m_context) return;
    QMetaObject::invokeMethod(
        m_context, [&work] { work(); }, Qt::BlockingQueuedConnection);
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
        else if (m_sink->state() == QAudio::StoppedState)
            m_sink->start(m_source.get());
    });
}

void QtAudioOutput::pause() {
    std::lock_guard guard(m_callLock);
    if (m_stopped) return;
    onAudioThread([this] {
        if (m_sink && m_sink->state() != QAudio::StoppedState) m_sink->suspend();
    });
}

void QtAudioOutput::stop() {
    std::lock_guard guard(m_callLock);
    if (m_stopped) return;
    m_stopped = true;
    m_source->clear();
    onAudioThread([this] {
        if (!m_sink) return;
        m_sink->stop();
        delete m_sink;
        m_sink = nullptr;
    });
}
