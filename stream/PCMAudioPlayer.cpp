#include "stream/PCMAudioPlayer.h"

#include "stream/QtAudioOutput.h"

#include <QtEndian>

namespace {

std::mutex factoryLock;
PCMAudioPlayer::OutputFactory outputFactory;

std::unique_ptr<AudioOutput> defaultOutput() {
    {
        std::lock_guard guard(factoryLock);
        if (outputFactory) return outputFactory();
    }
    return std::make_unique<QtAudioOutput>(PCMAudioPlayer::sampleRate, PCMAudioPlayer::channels);
}

} // namespace

void PCMAudioPlayer::setOutputFactory(OutputFactory factory) {
    std::lock_guard guard(factoryLock);
    outputFactory = std::move(factory);
}

PCMAudioPlayer::PCMAudioPlayer()
    : PCMAudioPlayer(defaultOutput()) {}

PCMAudioPlayer::PCMAudioPlayer(std::unique_ptr<AudioOutput> output)
    : m_output(std::move(output)) {}

PCMAudioPlayer::~PCMAudioPlayer() {
    stop();
}

PCMAudioPlayer::Counters PCMAudioPlayer::counters() const {
    std::lock_guard guard(m_lock);
    return m_state;
}

void PCMAudioPlayer::play(const QByteArray& pcm) {
    const int frames = int(pcm.size() / 4); // trailing bytes of a partial frame are ignored
    if (frames == 0) return;
    std::vector<float> samples(size_t(frames) * 2);
    const auto* bytes = reinterpret_cast<const uchar*>(pcm.constData());
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(qFromLittleEndian<qint16>(bytes + 2 * i)) / 32768.0f;

    bool pauseNode = false, startNode = false, startEngine = false;
    {
        std::lock_guard guard(m_lock);
        if (m_state.stopped || m_state.pendingFrames > dropThreshold) {
            ++m_state.droppedPackets;
            return;
        }
        if (m_state.pendingFrames == 0 && !m_state.playing && m_state.nodeRunning) {
            // The queue ran dry: hold playback until the start threshold is buffered again.
            m_state.nodeRunning = false;
            pauseNode = true;
        }
        m_state.pendingFrames += frames;
        if (m_state.pendingFrames >= startThreshold && !m_state.playing) {
            m_state.playing = true;
            m_state.nodeRunning = true;
            startNode = true;
        }
        startEngine = !m_state.engineStarted;
        ++m_state.scheduledPackets;
    }
    if (pauseNode) m_output->pause();
    if (startEngine && m_output->startEngine()) {
        std::lock_guard guard(m_lock);
        m_state.engineStarted = true;
    }
    m_output->schedule(std::move(samples), [this, frames] { played(frames); });
    if (startNode) m_output->play();
}

void PCMAudioPlayer::played(int frames) {
    std::lock_guard guard(m_lock);
    m_state.pendingFrames -= frames;
    if (m_state.pendingFrames < 1) {
        m_state.pendingFrames = 0;
        m_state.playing = false;
    }
}

void PCMAudioPlayer::stop() {
    {
        std::lock_guard guard(m_lock);
        if (m_state.stopped) return;
        m_state.stopped = true;
    }
    // Stopping the output also ends its completions, so none reaches a destroyed player.
    m_output->stop();
}
