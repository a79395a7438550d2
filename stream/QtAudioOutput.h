#pragma once

#include "stream/PCMAudioPlayer.h"

#include <QThread>

class QObject;
class QAudioSink;
class QTimer;
class PCMSource;

// The audio output on Qt Multimedia: a QAudioSink in pull mode reading interleaved float frames
// from a queue of scheduled buffers. A buffer counts as played once the sink reports it as
// processed, which a timer checks every few milliseconds while the sink runs. A sink delivers its
// callbacks through an event loop, which the audio reader thread does not have, so the sink lives
// on a QThread of its own; every call below blocks until that thread carried it out.
class QtAudioOutput : public AudioOutput {
public:
    QtAudioOutput(int sampleRate, int channels);
    ~QtAudioOutput() override;

    bool startEngine() override;
    void schedule(std::vector<float> interleaved, std::function<void()> played) override;
    void play() override;
    void pause() override;
    void stop() override;

    static constexpr int playedPollMs = 5;

private:
    void onAudioThread(const std::function<void()>& work);
    void completePlayed();

    const int m_sampleRate;
    const int m_channels;
    QThread m_thread;
    QObject* m_context = nullptr;   // lives on m_thread
    QAudioSink* m_sink = nullptr;   // lives on m_thread
    QTimer* m_playedPoll = nullptr; // lives on m_thread, a child of m_context
    std::shared_ptr<PCMSource> m_source;
    bool m_stopped = false; // the calling threads' view; guarded by m_callLock
    std::mutex m_callLock;
};
