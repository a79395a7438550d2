#pragma once

#include <QCoro/QCoroTask>
#include <QImage>
#include <QObject>
#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// The mirror mode: the device's screen as a stream of screenshots ("adb exec-out screencap -p"
// every 0.45 s, without the status and navigation bars), and taps, swipes and keys back through
// "adb shell input". The screenshots are taken on a thread of the model's own, joined by stop();
// frames and statuses are published on the main thread. Input runs on the Android pool.
class AndroidMirrorModel final : public QObject {
    Q_OBJECT
public:
    // The part of the 1080 × 2400 screen the view shows, below the 96-pixel status bar and above
    // the 150-pixel navigation bar.
    static constexpr QSize deviceSize{1080, 2154};
    static constexpr int deviceTopInset = 96;
    static constexpr int deviceBottomInset = 150;
    static constexpr int captureIntervalMs = 450;
    static constexpr int swipeDurationMs = 300;

    explicit AndroidMirrorModel(QObject* parent = nullptr);
    ~AndroidMirrorModel() override;

    // Boots Android if needed, then captures until stop(). Main thread.
    void start();
    void stop();
    void tap(QPointF at, QSizeF viewSize);
    void swipe(QPointF from, QPointF to, QSizeF viewSize);
    void key(int code);

    const std::optional<QImage>& frame() const { return m_frame; }
    QString status() const { return m_status; }
    bool isRunning() const { return m_running; }

    // A screenshot without its bars; nothing when it is too small to have them (or no image).
    static std::optional<QImage> cropped(const QImage& screenshot);
    // A point of a view showing the cropped screen at `viewSize`, in device pixels.
    static QPoint devicePoint(QPointF at, QSizeF viewSize);

Q_SIGNALS:
    void frameChanged();
    void statusChanged();
    void runningChanged();

private:
    void setStatus(const QString& status);
    void setRunning(bool running);
    QCoro::Task<> connectToAndroid(int generation, QString adb);
    void capture(const QString& adb); // the capture thread
    void publish(std::optional<QImage> frame);
    void input(const QStringList& arguments);

    std::optional<QImage> m_frame;
    QString m_status;
    bool m_running = false;
    int m_generation = 0; // a start() that was stopped before Android came up does not capture

    std::mutex m_mutex;
    std::condition_variable m_wake; // stop() wakes the capture thread from its pause
    bool m_stopping = false;        // under m_mutex
    std::thread m_captureThread;
};
