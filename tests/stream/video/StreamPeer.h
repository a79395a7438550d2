#pragma once

#include "VideoFixture.h"
#include "stream/AndroidStreamClient.h"
#include "stream/VideoRenderer.h"

#include <QByteArray>
#include <memory>

// The device end of one stream client served on socket pairs (no server process): the test
// writes the video socket and reads what the client sends on the control socket.
class StreamPeer {
public:
    explicit StreamPeer(std::shared_ptr<VideoRenderer> renderer);
    ~StreamPeer();

    std::shared_ptr<AndroidStreamClient> client;

    // The control bytes the client sent, `count` of them, or what arrived within `timeoutMs`.
    QByteArray readControl(qsizetype count, int timeoutMs = 5000);
    // True when nothing more arrives within `quietMs`.
    bool controlIsQuiet(int quietMs = 200);
    bool sendVideo(const QByteArray& bytes);
    // Device name and codec, then a session packet announcing `size`.
    bool startSession(QSize size);
    bool sendConfiguration(const QByteArray& parameterSets);
    bool sendFrame(const EncodedFrame& frame);

private:
    int m_video[2] = {-1, -1}, m_control[2] = {-1, -1};
};
