#include "windows/AndroidWindowRegistry.h"

#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/AndroidRuntimePaths.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowSession.h"
#include "windows/HeaderView.h"
#include "windows/VantleLayout.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

AndroidWindowRegistry& AndroidWindowRegistry::shared() {
    static auto* registry = new AndroidWindowRegistry; // lives as long as the process
    return *registry;
}

AndroidWindowSession* AndroidWindowRegistry::open(const QUuid& appID, const QString& package,
                                                  const QString& title,
                                                  std::function<void(std::optional<QString>)> onEnded) {
    if (AndroidWindowSession* existing = bringForward(appID)) return existing;
    const AndroidBridgeComponents bridge = RuntimeComponentLocator::androidBridge(); // may throw
    cancelIdleShutdown();
    const std::optional<QRectF> anchor = m_pendingAnchor ? m_pendingAnchor : menuBarPopupFrame();
    m_pendingAnchor.reset();

    auto* session = new AndroidWindowSession({appID, package, title, AndroidRuntimePaths::current().adb(),
                                              QString(AndroidRuntimeCLI::deviceSerial), bridge.server, anchor,
                                              iconFor ? iconFor(appID) : QIcon(), sendFiles, notifier});
    session->setParent(this);
    wire(session);
    session->onEnded = [this, package, onEnded](AndroidWindowSession* ended_, std::optional<QString> error) {
        ended(ended_, package, std::move(error), onEnded);
    };
    session->onNowPlaying = [this](AndroidWindowSession* reporter, const std::optional<AndroidMedia>& media) {
        setNowPlaying(media, reporter->appID());
    };
    m_sessions.insert(appID, session);
    EventCenter::shared().post(VantleEvent::sessionsChanged);
    closeMenuBarPopup();
    VantleLog::main().write(u"native window open package="_s + package + u" server="_s + bridge.server);
    QFuture<void> stopped = m_forceStops.value(package);
    if (stopped.isFinished()) m_forceStops.remove(package);
    session->start(stopped);
    return session;
}

void AndroidWindowRegistry::ended(AndroidWindowSession* session, const QString& package,
                                  std::optional<QString> error,
                                  const std::function<void(std::optional<QString>)>& onEnded) {
    // Only this very session is removed: a newer window of the same app may already be open.
    const QUuid appID = session->appID();
    if (m_sessions.value(appID) == session) {
        m_sessions.remove(appID);
        setNowPlaying(std::nullopt, appID); // a stream that ended on its own leaves no record behind
    }
    session->deleteLater();
    EventCenter::shared().post(VantleEvent::sessionsChanged);
    if (m_sessions.isEmpty()) scheduleIdleShutdown();
    VantleLog::main().write(u"native window ended package="_s + package + u" error="_s +
                            error.value_or(u"none"_s));
    if (onEnded) onEnded(error);
}

void AndroidWindowRegistry::wire(AndroidWindowSession* session) {
    session->onForceStop = [this](const QString& package) { forceStop(package); };
    session->onShowHome = [this](QRectF frame) { showMenuBarPopup(frame); };
    session->onPickSize = [this](const WindowSizePreset& preset) { applySize(preset); };
    session->onUnread = [this](const QUuid& appID, bool unread) { setUnread(appID, unread); };
    // The lock's hooks are read when used: the app may set them after a window opened.
    session->isLocked = [this](const QUuid& appID) {
        return m_appLock.isLocked && m_appLock.isLocked(appID);
    };
    session->onLeftScreen = [this](const QUuid& appID) {
        if (m_appLock.windowLeft) m_appLock.windowLeft(appID);
    };
    session->onToggleLock = [this](const QUuid& appID, const QString& title) {
        if (m_appLock.toggle) m_appLock.toggle(appID, title);
    };
}

AndroidWindowSession* AndroidWindowRegistry::session(const QUuid& appID) const {
    // A window that is closing only waits for its stream to end: the app has no open window, and
    // opening it again makes a new one (which the closing session's end then leaves in place).
    AndroidWindowSession* found = m_sessions.value(appID).data();
    return found && !found->isClosing() ? found : nullptr;
}

AndroidWindowSession* AndroidWindowRegistry::bringForward(const QUuid& appID) {
    AndroidWindowSession* found = session(appID);
    if (!found) return nullptr;
    setUnread(appID, false);
    found->bringToFront();
    closeMenuBarPopup();
    return found;
}

QList<AndroidWindowSession*> AndroidWindowRegistry::sessions() const {
    QList<AndroidWindowSession*> all;
    for (const QPointer<AndroidWindowSession>& session : m_sessions)
        if (session) all.append(session.data());
    return all;
}

void AndroidWindowRegistry::closeOthers(const QUuid& except) {
    const AndroidWindowSession* opened = m_sessions.value(except).data();
    for (AndroidWindowSession* session : sessions()) {
        if (session->appID() == except || session->isClosing()) continue;
        // Another entry of the same package shares the app the new window just started: a
        // force-stop would kill it under that window.
        const bool samePackage = opened && session->package() == opened->package();
        session->close(u"another app opened"_s, samePackage ? AndroidWindowSession::AppStop::leaveRunning
                                                            : AndroidWindowSession::AppStop::forceStop);
        VantleLog::main().write(u"single-app mode: closed "_s + session->package());
    }
}

void AndroidWindowRegistry::forceStop(const QString& package) {
    const QFuture<void> earlier = m_forceStops.value(package);
    m_forceStops.insert(package, QtConcurrent::run(&AndroidRuntimeCLI::pool(), [earlier, package] {
                            QFuture<void> previous = earlier;
                            previous.waitForFinished(); // runs it here when it has not started yet
                            AndroidRuntimeCLI::runADB({u"shell"_s, u"am"_s, u"force-stop"_s, package});
                        }));
}

void AndroidWindowRegistry::closeAll() {
    for (AndroidWindowSession* session : sessions())
        session->close(u"close all"_s);
}

bool AndroidWindowRegistry::singleAppMode() {
    return VantleSettings::get(SettingsKeys::singleApp);
}

double AndroidWindowRegistry::idleShutdownMinutes() {
    return VantleSettings::get(SettingsKeys::idleShutdownMinutes);
}

void AndroidWindowRegistry::scheduleIdleShutdown() {
    if (m_idleTimer) m_idleTimer->deleteLater();
    m_idleTimer.clear();
    const double minutes = idleShutdownMinutes();
    if (minutes <= 0) return;
    // The shortest decimal form with at least one fractional digit: 5.0, 0.05, 2.5.
    QString shown = QString::number(minutes, 'g', 15);
    if (!shown.contains(u'.') && !shown.contains(u'e')) shown += u".0"_s;
    VantleLog::main().write(u"idle: Android stops in "_s + shown + u" min unless an app is opened"_s);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, timer, shown] {
        timer->deleteLater();
        if (m_idleTimer == timer) m_idleTimer.clear();
        if (m_sessions.isEmpty()) stopAndroid(u"idle "_s + shown + u" min"_s, false);
    });
    timer->start(std::chrono::milliseconds(qint64(minutes * 60'000)));
    m_idleTimer = timer;
}

void AndroidWindowRegistry::cancelIdleShutdown() {
    if (m_idleTimer) {
        VantleLog::main().write(u"idle: shutdown cancelled (app opened)"_s);
        m_idleTimer->stop();
        m_idleTimer->deleteLater();
    }
    m_idleTimer.clear();
}

bool AndroidWindowRegistry::idleShutdownPending() const {
    return m_idleTimer && m_idleTimer->isActive();
}

void AndroidWindowRegistry::stopAndroid(const QString& reason, bool wait) {
    VantleLog::main().write(u"stopping Android runtime ("_s + reason + u')');
    EventCenter::shared().post(VantleEvent::runtimeChanged, {{u"state"_s, u"sleeping"_s}});
    const auto stop = [] {
        AndroidRuntimeCLI::stopAllApps();
        AndroidRuntimeCLI::runADB({u"emu"_s, u"kill"_s});
    };
    if (wait)
        stop();
    else
        (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), stop);
}

void AndroidWindowRegistry::applySize(const WindowSizePreset& preset) {
    const QSizeF size(preset.width, preset.height + HeaderView::height);
    VantleLayout::setSize(size);
    for (AndroidWindowSession* session : sessions())
        session->setPanelSize(size);
    VantleLog::main().write(u"window size preset "_s + preset.label());
}

void AndroidWindowRegistry::setUnread(const QUuid& appID, bool unread) {
    const bool changed = unread ? !m_unreadAppIDs.contains(appID) : m_unreadAppIDs.contains(appID);
    if (!changed) return;
    if (unread)
        m_unreadAppIDs.insert(appID);
    else
        m_unreadAppIDs.remove(appID);
    EventCenter::shared().post(VantleEvent::unreadChanged);
}

void AndroidWindowRegistry::setNowPlaying(const std::optional<AndroidMedia>& media, const QUuid& from) {
    std::optional<NowPlaying> record = m_nowPlaying;
    if (media)
        record = NowPlaying{from, *media};
    else if (m_nowPlaying && m_nowPlaying->appID == from)
        record.reset();
    if (record == m_nowPlaying) return;
    m_nowPlaying = record;
    EventCenter::shared().post(VantleEvent::mediaChanged);
}

bool AndroidWindowRegistry::sendMediaKey(const QUuid& appID, MediaAction action) {
    AndroidWindowSession* found = session(appID);
    if (found) found->sendMediaKey(action);
    return found;
}

std::optional<QRectF> AndroidWindowRegistry::menuBarPopupFrame() const {
    return m_homePanel.visibleFrame ? m_homePanel.visibleFrame() : std::nullopt;
}

void AndroidWindowRegistry::closeMenuBarPopup() {
    if (m_homePanel.hide) m_homePanel.hide();
}

void AndroidWindowRegistry::showMenuBarPopup(std::optional<QRectF> anchor) {
    const QSizeF size = VantleLayout::size();
    QRectF frame;
    if (anchor) {
        frame = QRectF(anchor->topLeft(), size);
    } else {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRectF visible = screen ? QRectF(screen->availableGeometry()) : QRectF();
        frame = QRectF(QPointF(visible.right() - size.width() - 12, visible.top() + 6), size);
    }
    if (m_homePanel.show) m_homePanel.show(frame);
    VantleLog::main().write(u"home page shown"_s);
}
