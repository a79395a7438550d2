#pragma once

#include "stream/H264.h"

// Where the video reader queues frames for display: one per app window, owned by the window's
// video view and shared with the reader thread (which may outlive the view by a frame).
// Every member is called on the video reader thread; an implementation hands finished pictures
// to the GUI thread itself.
class VideoRenderer {
public:
    enum class Status { idle, rendering, failed };

    virtual ~VideoRenderer() = default;
    virtual Status status() const = 0;
    // True after a decoder error that left no usable reference picture: decoding resumes only
    // after a flush and the next key frame.
    virtual bool requiresFlushToResumeDecoding() const = 0;
    // Drops queued frames and the decoder's state.
    virtual void flush() = 0;
    // Shows the sample as soon as it is decoded, never waiting for a time stamp.
    virtual void enqueue(const VideoSample& sample) = 0;
};
