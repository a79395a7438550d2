#include "stream/RecordingTap.h"

#include "stream/StreamRecorder.h"

void RecordingTap::start(std::shared_ptr<StreamRecorder> recorder) {
    std::lock_guard guard(m_lock);
    m_recorder = std::move(recorder);
}

bool RecordingTap::stopAtNextKeyFrame(Completion& completion) {
    std::lock_guard guard(m_lock);
    if (!m_recorder || m_pendingStop) return false;
    m_pendingStop = std::exchange(completion, nullptr);
    return true;
}

void RecordingTap::completePendingStop() {
    Completion completion;
    std::shared_ptr<StreamRecorder> recorder;
    {
        std::lock_guard guard(m_lock);
        if (!m_pendingStop) return;
        completion = std::exchange(m_pendingStop, nullptr);
        recorder = std::exchange(m_recorder, nullptr);
    }
    completion(recorder);
}

std::shared_ptr<StreamRecorder> RecordingTap::take() {
    std::lock_guard guard(m_lock);
    m_pendingStop = nullptr;
    return std::exchange(m_recorder, nullptr);
}

void RecordingTap::push(const VideoSample& sample, bool keyFrame) {
    std::shared_ptr<StreamRecorder> recorder;
    Completion completion;
    {
        std::lock_guard guard(m_lock);
        if (keyFrame && m_pendingStop) {
            completion = std::exchange(m_pendingStop, nullptr);
            recorder = std::exchange(m_recorder, nullptr);
        } else {
            recorder = m_recorder;
        }
    }
    if (recorder) recorder->appendVideo(sample, sample.format, keyFrame);
    if (completion) completion(recorder);
}

void RecordingTap::push(const QByteArray& pcm) {
    std::shared_ptr<StreamRecorder> recorder;
    {
        std::lock_guard guard(m_lock);
        recorder = m_recorder;
    }
    if (recorder) recorder->appendAudio(pcm);
}
