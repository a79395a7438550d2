#pragma once

#include "stream/StreamStages.h"

#include <functional>
#include <memory>
#include <mutex>

class StreamRecorder;

// The recording stage of both readers: holds the window's recorder, if any, and a stop that waits
// for a fresh key frame. One lock guards both and is taken once per sample or PCM packet; it is
// never held while a recorder writes or a completion runs.
//
// States: none -> recording (recorder set) -> stopping (stop pending) -> none.
class RecordingTap final : public VideoSink, public AudioSink {
public:
    using Completion = std::function<void(std::shared_ptr<StreamRecorder>)>;

    void start(std::shared_ptr<StreamRecorder> recorder); // replaces any other
    // Keeps `completion` for the next key frame or `completePendingStop`; false (and `completion`
    // left to the caller) when nothing records or a stop is pending already.
    bool stopAtNextKeyFrame(Completion& completion);
    // The first call after a stop takes the recorder out and runs the completion; later ones do nothing.
    void completePendingStop();
    std::shared_ptr<StreamRecorder> take(); // also drops a pending stop

    // Video: the key frame that completes a stop is the recording's last sample.
    void push(const VideoSample& sample, bool keyFrame) override;
    void push(const QByteArray& pcm) override;

private:
    std::mutex m_lock;
    std::shared_ptr<StreamRecorder> m_recorder;
    Completion m_pendingStop;
};
