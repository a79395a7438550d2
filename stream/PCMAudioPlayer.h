#pragma once

#include "stream/StreamStages.h"

#include <QByteArray>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Where the player's buffers go: the platform's engine and player node. Interleaved float stereo
// at 48 kHz. `schedule` queues one buffer and calls `played` (on any thread) once the output reports
// all of it as played, not when its device merely took it: the jitter buffer's figures count what
// is still to be heard, so a device's own buffer counts as queued. A buffer scheduled while paused
// waits. The player never holds its lock while calling an output.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    virtual bool startEngine() = 0; // false: no sound device or it refused; tried again later
    virtual void schedule(std::vector<float> interleaved, std::function<void()> played) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0; // node and engine; the output is never used again
};

// Plays the raw PCM of the audio socket (signed 16-bit little-endian stereo at 48 kHz) with a small
// jitter buffer: playback starts once 60 ms are queued, pauses when the queue runs dry until 60 ms
// are queued again, and packets that arrive while more than 250 ms are queued are dropped so the
// delay never grows. A machine without a sound device never fails the stream: the engine start is
// simply tried again on the next packet.
//
// `play` (the audio reader's player stage) is called by the audio reader thread, completions come
// from the output's thread and `stop` from any thread.
class PCMAudioPlayer final : public AudioSink {
public:
    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;
    static constexpr int startThreshold = 2880; // frames: 60 ms
    static constexpr int dropThreshold = 12000; // frames: 250 ms

    // On Qt Multimedia's default output.
    PCMAudioPlayer();
    explicit PCMAudioPlayer(std::unique_ptr<AudioOutput> output);
    ~PCMAudioPlayer() override;
    PCMAudioPlayer(const PCMAudioPlayer&) = delete;
    PCMAudioPlayer& operator=(const PCMAudioPlayer&) = delete;

    void play(const QByteArray& pcm);
    void push(const QByteArray& pcm) override { play(pcm); }
    void stop(); // idempotent; a stopped player never plays again

    struct Counters {
        int pendingFrames = 0;
        bool playing = false;
        bool engineStarted = false;
        bool stopped = false;
        bool nodeRunning = false;
        int droppedPackets = 0;
        int scheduledPackets = 0;
    };
    Counters counters() const;

    // Where new players send their sound, for tests and tools without a sound device; null
    // restores Qt Multimedia's default output.
    using OutputFactory = std::function<std::unique_ptr<AudioOutput>()>;
    static void setOutputFactory(OutputFactory factory);

private:
    void played(int frames);

    std::unique_ptr<AudioOutput> m_output;
    mutable std::mutex m_lock;
    Counters m_state;
};
