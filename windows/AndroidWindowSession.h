#pragma once

#include "core/AndroidMedia.h"
#include "integrations/AndroidFileTransfer.h"
#include "integrations/NotificationWatch.h"
#include "windows/WindowSizePreset.h"

#include <QFuture>
#include <QIcon>
#include <QObject>
#include <QRectF>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

class AndroidAppPanel;
class AndroidStreamClient;
class AndroidVideoView;
class HeaderView;
struct ImageBox;
class MediaCardView;
class MediaSessionWatch;
class NotificationBannerView;
class NotificationShadeModel;
class NotificationShadeView;
class Notifier;
class QMenu;
class QTimer;
class StreamRecorder;
class VantleLog;

// One running Android app in one borderless window: the window, its header, the video view and
// the stream client. Decides where the window opens, remembers its frame and pin state per
// package, implements Back with a check whether the app is still open, resizes the virtual display
// with the window, syncs the desktop clipboard into Android when the window becomes active, and
// force-stops the app when the window closes. Mirrors the app's Android notifications (banner, shade,
// unread mark, desktop notification). GUI thread only; created and owned by the registry, to which
// it reports through the callbacks below.
class AndroidWindowSession final : public QObject {
    Q_OBJECT
public:
    struct Setup {
        QUuid appID;
        QString package;
        QString title;
        QString adb;
        QString serial;
        QString server;
        std::optional<QRectF> anchor;
        QIcon icon;
        // Sends dropped files into Android for the package on the display (blocking; run on the
        // Android pool). Without it a drop is refused.
        AndroidFileTransfer::Sender sendFiles;
        // Where a notification of a hidden window goes on the desktop; none: nowhere. Outlives the session.
        Notifier* notifier = nullptr;
        // The notification watch's clock (tests step it).
        NotificationWatch::Now now = &NotificationWatch::Clock::now;
    };

    explicit AndroidWindowSession(Setup setup);
    ~AndroidWindowSession() override;

    // Shows the window and starts the stream once `appStopped` has finished (an earlier window's
    // force-stop of this package, which must not land after this window started the app).
    void start(const QFuture<void>& appStopped = {});
    void handleBack();
    void hide();
    enum class AppStop { forceStop, leaveRunning };
    // Closes the window and, unless told to leave it running, force-stops its app. A second close
    // does nothing.
    void close(const QString& reason, AppStop appStop = AppStop::forceStop);
    void saveFrame();
    void setPanelSize(QSizeF size);
    // Dropped files go into Android in the background; the window tells how it went.
    void receiveFiles(const QList<QUrl>& urls);
    // A short message inside the window (the banner), when it is visible.
    void showInfo(const QString& title, const QString& text);
    // One read of Android's notifications, unless one is in flight or the window is closing.
    void pollNotifications();
    void handleNotifications(const QList<AndroidNotification>& list);
    void toggleShade();
    void showSizeMenu(QWidget* from);
    void pickSize(int tag);
    // Shows the window again, raised and active, with the video view focused.
    void bringToFront();
    // Presses the media key in the app (down and up through the control channel) and reads the
    // media session again mediaRepollMs later, so what Vantle shows follows the key at once. Keys
    // sent after the stream ended are dropped.
    void sendMediaKey(MediaAction action);
    // What the app plays, as last read; nothing once the window is closing.
    const std::optional<AndroidMedia>& media() const;

    // Screenshots, recordings and debug snapshots (SessionCapture.cpp, SessionRecording.cpp).
    // The capture button's menu, 4 points under `from`; it deletes itself when closed.
    QMenu* showCaptureMenu(QWidget* from);
    // The next key frame of the stream becomes the screenshot.
    void takeScreenshot();
    // A PNG in the pictures folder and on the clipboard, a sound, the banner and a main-log line.
    // An image that cannot be encoded or written is no screenshot: nothing is announced.
    void saveScreenshot(const QImage& image);
    // Starts a recording, or asks the running one to stop at the next key frame. While the last
    // stop is still on its way nothing happens.
    void toggleRecording();
    // Completes the file off the GUI thread and reports it: the main log, and when saved the
    // banner and a desktop notification.
    void finishRecording(std::shared_ptr<StreamRecorder> recorder);
    enum class Recording { idle, recording, stopping };
    Recording recording() const { return m_recording; }
    void openCaptures();
    // With "VantleSnapshots": a still image now and every snapshotIntervalMs, at most maxSnapshots.
    void startDebugSnapshots();
    // The window's content with `image` in the video view's place, as a PNG in the logs folder.
    void writeSnapshot(const QImage& image);
    static constexpr int snapshotIntervalMs = 4000;
    static constexpr int maxSnapshots = 30;

    const QUuid& appID() const { return m_setup.appID; }
    const QString& package() const { return m_setup.package; }
    const QString& title() const { return m_setup.title; }
    bool isClosing() const { return m_closing; }
    bool isPinned() const { return m_pinned; }
    AndroidAppPanel* panel() const { return m_panel.get(); }
    AndroidVideoView* videoView() const { return m_videoView; }
    const std::shared_ptr<AndroidStreamClient>& client() const { return m_client; }
    VantleLog& log() const { return *m_log; }
    NotificationBannerView* banner() const { return m_banner; }
    NotificationShadeModel& shadeModel() const { return *m_shadeModel; }
    NotificationShadeView* shade() const { return m_shade; }
    // How many polls have come back (a test waits for the next one).
    int handledPolls() const { return m_handledPolls; }

    // Called once when the stream has ended; the error only when the window was not closed.
    std::function<void(AndroidWindowSession*, std::optional<QString> error)> onEnded;
    // What the window asks of its owner; each may be empty.
    std::function<void(const QString& package)> onForceStop; // the window closed its app
    std::function<void(QRectF frame)> onShowHome;            // the home panel in the window's place
    std::function<void(const WindowSizePreset& preset)> onPickSize;
    std::function<void(const QUuid& appID, bool unread)> onUnread;
    std::function<bool(const QUuid& appID)> isLocked;
    std::function<void(const QUuid& appID)> onLeftScreen; // hidden or closed (the app lock's grace period)
    std::function<void(const QUuid& appID, const QString& title)> onToggleLock;
    // Called when what the app plays changes, and with nothing when the window closes.
    std::function<void(AndroidWindowSession*, const std::optional<AndroidMedia>& media)> onNowPlaying;

    static constexpr int notificationPollMs = 3000;

    // Back checks run at these delays (ms) after a Back.
    static constexpr int backCheckDelaysMs[] = {200, 450, 800, 1300};
    static constexpr int resizeDebounceMs = 250;
    static constexpr int mediaRepollMs = 600;

private:
    void setPinned(bool pinned);
    void showHomeInPlace();
    void showLock();
    void leftScreen(); // tells the app lock
    void checkBack(int generation);
    void resignedKey();
    void becameKey();
    void resized();
    void resizeDisplay();
    void startNotificationWatch();
    void announce(const AndroidNotification& notification);
    bool locked() const { return isLocked && isLocked(m_setup.appID); }
    void handleSnapshot(const std::shared_ptr<ImageBox>& box);
    void startRecording();
    void stopRecording();

    const Setup m_setup;
    std::shared_ptr<VantleLog> m_log;
    AndroidVideoView* m_videoView = nullptr; // owned by the panel
    HeaderView* m_header = nullptr;          // owned by the panel
    std::unique_ptr<AndroidAppPanel> m_panel;
    std::shared_ptr<AndroidStreamClient> m_client;
    NotificationBannerView* m_banner = nullptr;     // owned by the video view
    NotificationShadeModel* m_shadeModel = nullptr; // owned by the session
    NotificationShadeView* m_shade = nullptr;       // owned by the video view
    NotificationWatch m_watch;
    MediaSessionWatch* m_media = nullptr; // started with the stream, stopped by close
    MediaCardView* m_mediaCard = nullptr; // owned by the shade
    QTimer* m_notifyTimer = nullptr;      // none until the watch starts
    bool m_pollingNotifications = false;
    int m_handledPolls = 0;
    QTimer* m_resizeWork = nullptr; // the display resize and the shared size, once a resize rests
    QTimer* m_saveWork = nullptr;   // the window record, once a move or resize rests
    bool m_pinned = false;
    bool m_closing = false;
    int m_backGeneration = 0;
    qint64 m_lastClipboardChange = -1;
    bool m_screenshotPending = false;
    QTimer* m_snapshotTimer = nullptr; // none until debug snapshots start
    int m_snapshotIndex = 0;
    Recording m_recording = Recording::idle;
};
