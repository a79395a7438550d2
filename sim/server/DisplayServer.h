#pragma once

#include "sim/AdbDevice.h"
#include "sim/DeviceState.h"
#include "sim/screen/ScreenPainter.h"
#include "sim/server/ControlMessage.h"
#include "sim/server/ServerOptions.h"

#include <QJsonObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// One display-server session: a new virtual display showing the started app, streamed over three
// sockets that the server opens through the reverse tunnel, in this order: video, audio (when
// on), control. Threads: the calling thread renders, encodes and writes video (and follows the
// device's state); a control thread decodes and applies control messages; an audio thread writes
// a 440 Hz test tone as 48 kHz stereo 16-bit PCM in real time. The session ends when the control
// socket closes, a socket write fails, or a malformed control message arrives.
//
// Faults injected through the device state ("faults"."server"): "dieAfterFrames" (exit abruptly),
// "videoCodecId" / "audioCodecId" (announce another codec), "replay" + "replayFps" (stream a
// recorded H.264 file instead of encoding: 0 fps means as fast as the client reads).
class DisplayServer {
public:
    DisplayServer(const AdbDevice& device, const ServerOptions& options);
    ~DisplayServer();
    int run();

    static constexpr uint32_t h264CodecId = 0x68323634; // "h264"
    static constexpr uint32_t rawCodecId = 0x00726177;  // "raw"
    static constexpr int toneHz = 440;

private:
    bool connectSockets(const std::function<int()>& connectOne);
    void videoLoop();
    void replayLoop(const QString& path, double fps);
    void controlLoop();
    void audioLoop();
    void apply(const ControlMessage& message);
    void followDeviceState();
    void startApp(const QString& name);
    void leaveApp();
    bool sendVideo(const QByteArray& bytes);
    void sendDevice(const QByteArray& bytes);
    void record(const QString& kind, QJsonObject event);
    void stop();

    AdbDevice m_device;
    ServerOptions m_options;
    DeviceState m_state;
    QJsonObject m_faults;
    int m_videoFd = -1, m_audioFd = -1, m_controlFd = -1;
    int m_displayId = 0;

    std::mutex m_lock; // guards the screen and the requests below
    ScreenState m_screen;
    int m_width = 0, m_height = 0;
    bool m_sizeChanged = true;
    bool m_keyFrameRequested = true;
    std::mutex m_controlWriteLock;
    std::atomic<bool> m_stopping{false};
    std::condition_variable m_wake;
    QString m_lastClipboard;
};
