#pragma once

#include "core/AndroidMedia.h"
#include "integrations/AndroidFileTransfer.h"
#include "windows/WindowSizePreset.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QUuid>
#include <functional>
#include <optional>

class AndroidWindowSession;
class Notifier;
class QTimer;

// The process-wide registry of open app windows: at most one session per app, single-app mode,
// size presets for every window, the unread marks, and stopping Android when no window has been
// open for a while. GUI thread only.
class AndroidWindowRegistry final : public QObject {
    Q_OBJECT
public:
    static AndroidWindowRegistry& shared();

    // What the registry needs of the home panel, which lives above it. Set once by the app.
    struct HomePanel {
        std::function<void(QRectF frame)> show; // show, raise and activate the panel at this frame
        std::function<std::optional<QRectF>()> visibleFrame;
        std::function<void()> hide;
    };
    void setHomePanel(HomePanel panel) { m_homePanel = std::move(panel); }

    // The app lock, which lives above the windows. Set once by the app; each may be empty.
    struct AppLockHooks {
        std::function<bool(const QUuid& appID)> isLocked;
        std::function<void(const QUuid& appID)> windowLeft;                   // hidden or closed
        std::function<void(const QUuid& appID, const QString& title)> toggle; // the header's lock button
    };
    void setAppLock(AppLockHooks hooks) { m_appLock = std::move(hooks); }
    const AppLockHooks& appLock() const { return m_appLock; }

    // Opens a window for the app, or brings its open window forward. Throws AndroidBridgeError when the
    // display-server files cannot be found. `onEnded` is called once when the window's stream ends.
    AndroidWindowSession* open(const QUuid& appID, const QString& package, const QString& title,
                               std::function<void(std::optional<QString> error)> onEnded);
    // The app's open window; one that is closing does not count.
    AndroidWindowSession* session(const QUuid& appID) const;
    // Shows the app's open window again (raised, active, its unread mark cleared) in place of the
    // home panel. Nothing, and nullptr, when the app has no open window.
    AndroidWindowSession* bringForward(const QUuid& appID);
    // Every session, closing ones included (they stay until their stream has ended).
    QList<AndroidWindowSession*> sessions() const;
    void closeOthers(const QUuid& except);
    void closeAll();
    // Force-stops the package in the background, after every earlier stop of it. A window opened
    // for the package meanwhile starts its app only once these stops have run, so a late stop
    // never kills the new window's app.
    void forceStop(const QString& package);
    // The latest force-stop of the package (finished when there is none).
    QFuture<void> forceStopOf(const QString& package) const { return m_forceStops.value(package); }

    static bool singleAppMode();
    static double idleShutdownMinutes();
    void scheduleIdleShutdown();
    void cancelIdleShutdown();
    bool idleShutdownPending() const;
    // Never fails; with `wait` the device is stopped before this returns.
    void stopAndroid(const QString& reason, bool wait);

    void applySize(const WindowSizePreset& preset);
    void setUnread(const QUuid& appID, bool unread);
    const QSet<QUuid>& unreadAppIDs() const { return m_unreadAppIDs; }

    // The one now-playing record: which app plays what. The last window to report media takes
    // it; a report of no media clears it only when it comes from the app that holds it (a window
    // that stops playing must not clear another's). Posts "Vantle.mediaChanged" when it changed.
    struct NowPlaying {
        QUuid appID;
        AndroidMedia media;
        bool operator==(const NowPlaying&) const = default;
    };
    void setNowPlaying(const std::optional<AndroidMedia>& media, const QUuid& from);
    const std::optional<NowPlaying>& nowPlaying() const { return m_nowPlaying; }
    // The media key in the app's open window; false when it has none.
    bool sendMediaKey(const QUuid& appID, MediaAction action);

    // A one-shot place for the next window (the menu-bar item of an app).
    void setPendingAnchor(std::optional<QRectF> anchor) { m_pendingAnchor = anchor; }
    std::optional<QRectF> menuBarPopupFrame() const;
    void closeMenuBarPopup();
    void showMenuBarPopup(std::optional<QRectF> anchor);

    // The app icon for new windows (set by the app; may be empty).
    std::function<QIcon(const QUuid& appID)> iconFor;
    // How new windows send dropped files into Android (set by the app).
    AndroidFileTransfer::Sender sendFiles;
    // Where hidden windows' notifications go on the desktop (set by the app; may be none).
    Notifier* notifier = nullptr;

private:
    AndroidWindowRegistry() = default;
    void wire(AndroidWindowSession* session); // the session's calls to its owner
    void ended(AndroidWindowSession* session, const QString& package, std::optional<QString> error,
               const std::function<void(std::optional<QString>)>& onEnded);

    QHash<QUuid, QPointer<AndroidWindowSession>> m_sessions;
    QHash<QString, QFuture<void>> m_forceStops; // the latest stop of each package
    QPointer<QTimer> m_idleTimer;
    std::optional<QRectF> m_pendingAnchor;
    QSet<QUuid> m_unreadAppIDs;
    std::optional<NowPlaying> m_nowPlaying;
    HomePanel m_homePanel;
    AppLockHooks m_appLock;
};
