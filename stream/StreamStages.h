#pragma once

#include "stream/H264.h"

#include <QByteArray>

// The stages after the readers. A reader turns its socket into samples and hands each one, in
// stream order and on the reader's own thread, to every sink it was given; sinks are wired in one
// place (the client's serve) and never talk back to the reader.

// Video: the display's renderer, the recording, the still-image taker.
class VideoSink {
public:
    virtual ~VideoSink() = default;
    // A length-prefixed access unit with its format (never null); `keyFrame` as the server flagged it.
    virtual void push(const VideoSample& sample, bool keyFrame) = 0;
};

// Audio: the player, the recording, the level log. Signed 16-bit little-endian stereo at 48 kHz.
class AudioSink {
public:
    virtual ~AudioSink() = default;
    virtual void push(const QByteArray& pcm) = 0;
};
