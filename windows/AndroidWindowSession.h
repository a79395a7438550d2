#pragma once

#include "core/AndroidMedia.h"
#include "integrations/AndroidFileTransfer.h"

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
class MediaSessionWatch;
class QLabel;
class VantleLog;

// One running Android app in one borderless window: the window, its header, the video view and
// the stream client. Decides where the window opens, remembers its frame and pin state per
// package, implements Back with a check whether the app is still open, resizes the virtual display
// with the window, syncs the desktop clipboard into Android when the window becomes active, and
// force-stops the app when the window closes. GUI thread only; created and owned by the registry.
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
    // A short message inside the window (title, then text), when it is visible.
    void showInfo(const QString& title, const QString& text);
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

    const QUuid& appID() const { return m_setup.appID; }
    const QString& package() const { return m_setup.package; }
    const QString& title() const { return m_setup.title; }
    bool isClosing() const { return m_closing; }
    bool isPinned() const { return m_pinned; }
    AndroidAppPanel* panel() const { return m_panel.get(); }
    AndroidVideoView* videoView() const { return m_videoView; }
    const std::shared_ptr<AndroidStreamClient>& client() const { return m_client; }
    VantleLog& log() const { return *m_log; }

    // Called once when the stream has ended; the error only when the window was not closed.
    std::function<void(AndroidWindowSession*, std::optional<QString> error)> onEnded;
    // Called when what the app plays changes, and with nothing when the window closes.
    std::function<void(AndroidWindowSession*, const std::optional<AndroidMedia>& media)> onNowPlaying;

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
    void showNotice(const QString& text);

    const Setup m_setup;
    std::shared_ptr<VantleLog> m_log;
    AndroidVideoView* m_videoView = nullptr; // owned by the panel
    HeaderView* m_header = nullptr;          // owned by the panel
    std::unique_ptr<AndroidAppPanel> m_panel;
    std::shared_ptr<AndroidStreamClient> m_client;
    QLabel* m_notice = nullptr;
    MediaSessionWatch* m_media = nullptr; // started with the stream, stopped by close
    QTimer* m_resizeWork = nullptr;       // the display resize and the shared size, once a resize rests
    QTimer* m_saveWork = nullptr;         // the window record, once a move or resize rests
    bool m_pinned = false;
    bool m_closing = false;
    int m_backGeneration = 0;
    qint64 m_lastClipboardChange = -1;
};
