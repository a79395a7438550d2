#pragma once

#include "stream/H264.h"
#include "stream/RecordingTap.h"
#include "stream/SocketIO.h"
#include "stream/VideoReader.h"

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class ServerProcess;
class VantleLog;
class VideoSink;
class PCMAudioPlayer;
class SerialQueue;
class StreamRecorder;

// A decoded still image handed to the GUI thread (may be empty when decoding failed).
struct ImageBox {
    std::optional<QImage> image;
};

// The client side of one app window's connection to Android: pushes the display server, starts it
// on a new virtual display running the window's app, accepts its three sockets through a reverse
// tunnel, then reads video (on the start thread), device messages and audio (one thread each, joined
// by the start thread when video ends) and writes control messages on one serial queue. The readers'
// stages are wired in `serve`: video to the renderer, the recording and the still-image taker;
// audio to the player, the recording and the level log.
//
// Shared (std::shared_ptr) by the window, the start thread and what they post; create it with
// `create`. The callbacks are set on the GUI thread before `start` and always run on the GUI
// thread; a window that goes away clears them there. One lock guards the locked state below; it is never held
// across I/O, a callback or another lock.
class AndroidStreamClient : public std::enable_shared_from_this<AndroidStreamClient> {
public:
    struct Config {
        QString adb;
        QString serial;
        QString server;
        QString package;
        QSizeF pixelSize;
        int dpi = 0;
        int bitRate = 8'000'000;
        int maxFPS = 60;
    };

    static std::shared_ptr<AndroidStreamClient> create(Config config, std::shared_ptr<VideoSink> renderer,
                                                       std::shared_ptr<VantleLog> log);
    ~AndroidStreamClient();

    // GUI-thread callbacks.
    std::function<void(QSize)> onVideoSize;
    std::function<void()> onFirstFrame;
    // No error: `stop` asked for the end. Any other end carries the reason the user is shown.
    std::function<void(std::optional<QString> error)> onEnded;
    std::function<void(std::shared_ptr<ImageBox>)> onSnapshot;

    void start();
    void stop();                   // any thread, any number of times
    void send(QByteArray message); // one encoded control message, written whole and in order
    void finish(std::optional<QString> error);
    // adb -s <serial> <arguments>, run to its end on the calling thread: (exit status, output).
    std::pair<int, QString> adb(const QStringList& arguments) const;

    // Locked state, for the window.
    QSize videoSize() const;
    std::optional<int> displayID() const;
    uint64_t nextClipboardSequence(); // increments, then returns: the first is 2
    void requestSnapshot();           // the next key frame becomes a still image (sends reset video)
    // Recording: the recorder takes every sample and PCM packet from now on (replacing any other);
    // reset video is sent so that the file's first key frame comes soon.
    void startRecording(std::shared_ptr<StreamRecorder> recorder);
    // Ends the recording at the next key frame (which the recorder still gets) or 0.8 s from now,
    // whichever comes first: `completion` then runs once, on the video reader thread or the control
    // queue, with the recorder taken out of the client. With no recording (or a stop already
    // pending) it runs at once with nullptr.
    void stopRecordingWithFinalFrame(std::function<void(std::shared_ptr<StreamRecorder>)> completion);
    // The window is closing: the recorder, at once, and a pending stop dropped.
    std::shared_ptr<StreamRecorder> takeRecorder();

    // When each step of the connection ended (steady clock), for the launch benchmark. A step not
    // reached yet reads as the epoch.
    struct Timeline {
        using Time = std::chrono::steady_clock::time_point;
        Time started, pushed, tunnelled, serverStarted, accepted, firstFrame;
    };
    Timeline timeline() const;

    const Config& config() const { return m_config; }
    bool forwardsAudio() const { return m_forwardAudio; }
    uint32_t scid() const { return m_scid; }
    // "scrcpy_%08x"
    QString socketName() const;
    // The 18 arguments after adb that start the server, in order.
    QStringList serverArguments() const;
    // Display size sent to the server: each side truncated, then rounded down to a multiple of 8.
    static QSize displaySize(QSizeF pixelSize);

    // The streaming phase on sockets that are already connected (video, control, audio or -1):
    // stores them, sends the start-app message, starts the device-message and audio readers and
    // reads video on the calling thread until the stream ends. `connect` ends with it; tests and
    // fuzzers give it socket pairs.
    void serve(int videoFD, int controlFD, int audioFD, std::chrono::steady_clock::time_point startedAt);
    // One reader on its own, reading `fd` to its end on the calling thread (fuzz targets). The
    // video reader ends the session as in a real stream.
    void readVideoStream(int fd) { readVideo(fd, std::chrono::steady_clock::now()); }
    void readAudioStream(int fd) { readAudio(fd); }

    // The virtual display's id in a chunk of the server's output: the first "(id=N)", if any.
    static std::optional<int> displayIDIn(const QString& output);
    // What the server's last error line ("[server] ERROR: <text>") says, if it printed one.
    static std::optional<QString> lastServerError(const QString& output);
    // The reason of an end nobody asked for when the server said nothing about it.
    static constexpr auto unexpectedEndText = QLatin1StringView("The app's display stopped unexpectedly");
    // The audio sink while audio forwarding runs (locked).
    std::shared_ptr<PCMAudioPlayer> audioPlayer() const;

private:
    AndroidStreamClient(Config config, std::shared_ptr<VideoSink> renderer, std::shared_ptr<VantleLog> log);
    void connect();
    void startServer();
    bool adoptSockets(int videoFD, int controlFD, int audioFD); // returns `stopped`
    void runReaders(int videoFD, int audioFD, std::chrono::steady_clock::time_point startedAt);
    void readVideo(int fd, std::chrono::steady_clock::time_point startedAt);
    void endUnasked(const QString& fallback);
    void drainDeviceMessages();
    void readAudio(int fd);
    void mark(Timeline::Time Timeline::*step);
    void postToGui(std::function<void()> work);

    const Config m_config;
    const std::shared_ptr<VideoSink> m_renderer;
    const std::shared_ptr<VantleLog> m_log;
    const bool m_forwardAudio;
    const uint32_t m_scid;

    mutable std::mutex m_lock;
    std::shared_ptr<ServerProcess> m_serverProcess;
    int m_videoFD = -1, m_controlFD = -1, m_audioFD = -1;
    std::vector<int> m_shutDownFDs; // shut down by `stop`, closed with the client
    std::shared_ptr<PCMAudioPlayer> m_audioPlayer;
    bool m_stopped = false;
    bool m_endReported = false;
    QSize m_videoSize;
    uint64_t m_clipboardSequence = 1;
    std::optional<int> m_displayID;
    QString m_serverOutputTail; // the last few KiB the server printed
    Timeline m_timeline;

    // Stages with locks of their own.
    RecordingTap m_recording;
    SnapshotTaker m_snapshots;

    std::unique_ptr<SerialQueue> m_sendQueue; // "vantle.android.control"
};
