#include "windows/AndroidWindowSession.h"

#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "integrations/DeviceSettings.h"
#include "integrations/NotificationShadeModel.h"
#include "integrations/Notifier.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "stream/AndroidStreamClient.h"
#include "stream/AndroidVideoView.h"
#include "stream/ScrcpyControl.h"
#include "stream/StreamRecorder.h"
#include "windows/AndroidAppPanel.h"
#include "windows/HeaderView.h"
#include "windows/MediaCardView.h"
#include "windows/MediaSessionWatch.h"
#include "windows/NotificationBannerView.h"
#include "windows/NotificationShadeView.h"
#include "windows/VantleLayout.h"
#include "windows/WindowPlacement.h"
#include "windows/WindowSizePreset.h"

#include <QApplication>
#include <QClipboard>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// How often the desktop clipboard changed in this process's lifetime: the stand-in for the Mac
// pasteboard's change count, so a window sends the clipboard only when it is new.
qint64 clipboardChangeCount() {
    static qint64 changes = 0;
    static const bool watching = [] {
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, QGuiApplication::clipboard(),
                         [] { ++changes; });
        return true;
    }();
    (void)watching;
    return changes;
}

double screenScale() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 2.0;
}

QList<QRectF> visibleFrames() {
    QList<QRectF> frames;
    for (const QScreen* screen : QGuiApplication::screens())
        frames.append(QRectF(screen->availableGeometry()));
    return frames;
}

std::optional<QRectF> mainVisibleFrame() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return std::nullopt;
    return QRectF(screen->availableGeometry());
}

QString windowKey(const QString& package) {
    return SettingsKeys::window.key(package);
}

} // namespace

AndroidWindowSession::AndroidWindowSession(Setup setup)
    : m_setup(std::move(setup))
    , m_log(std::make_shared<VantleLog>(u"native-"_s + m_setup.package + u".log"_s,
                                        VantleLog::Opening::truncate))
    , m_watch(m_setup.now) {
    const QVariantMap record =
        VantleSettings::readDictionary(windowKey(m_setup.package)).value_or(QVariantMap());
    m_pinned = record.value(u"pinned"_s).toBool();
    const QSizeF size = VantleLayout::size();
    const QRectF frame =
        WindowPlacement::initialFrame(record, size, visibleFrames(), mainVisibleFrame(), m_setup.anchor);

    m_videoView = new AndroidVideoView;
    m_header = new HeaderView(m_setup.title);
    m_panel = std::make_unique<AndroidAppPanel>(m_setup.title, m_header, m_videoView);
    m_panel->setWindowIcon(m_setup.icon);
    m_panel->setGeometry(frame.toRect());
    m_banner = new NotificationBannerView(m_videoView);
    m_shadeModel = new NotificationShadeModel(this);
    m_shadeModel->setAppName(m_setup.title);
    m_shadeModel->onClose = [this] { m_shade->close(); };
    m_shade = new NotificationShadeView(*m_shadeModel, m_videoView);

    const double scale = screenScale();
    AndroidStreamClient::Config config;
    config.adb = m_setup.adb;
    config.serial = m_setup.serial;
    config.server = m_setup.server;
    config.package = m_setup.package;
    config.pixelSize = QSizeF(size.width() * scale, (size.height() - HeaderView::height) * scale);
    config.dpi = int(scale * 160);
    m_client = AndroidStreamClient::create(config, m_videoView->renderer(), m_log);
    m_videoView->setClient(m_client);

    m_client->onFirstFrame = [this] {
        VantleLog::main().write(u"native first frame package="_s + m_setup.package);
        QTimer::singleShot(1500, this, [] {
            (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), [] { AndroidVolume::maximize(); });
        });
        if (VantleSettings::get(SettingsKeys::snapshots)) startDebugSnapshots();
    };
    m_client->onSnapshot = [this](std::shared_ptr<ImageBox> box) { handleSnapshot(box); };
    m_client->onEnded = [this](std::optional<QString> error) {
        m_panel->hide();
        // A stream that ended by itself leaves its recording to be completed and reported here.
        if (std::shared_ptr<StreamRecorder> recorder = m_client->takeRecorder())
            finishRecording(std::move(recorder));
        if (onEnded) onEnded(this, m_closing ? std::nullopt : error);
    };

    m_media = new MediaSessionWatch(m_setup.package, {}, this);
    m_media->onChanged = [this](const std::optional<AndroidMedia>& media,
                                const std::optional<AndroidMedia>& before) {
        // Sound that starts playing should be heard: Android's volume may have been lowered meanwhile.
        if (media && media->playing && !(before && before->playing))
            (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), [] { AndroidVolume::maximize(); });
        m_mediaCard->setMedia(media);
        if (onNowPlaying) onNowPlaying(this, media);
    };
    // The shade's now-playing card; it shows only while the app has media.
    m_mediaCard = new MediaCardView;
    m_mediaCard->setAppName(m_setup.title);
    m_mediaCard->onMedia = [this](MediaAction action) { sendMediaKey(action); };
    m_shade->setMediaCard(m_mediaCard);

    m_videoView->onBackRequest = [this] { handleBack(); };
    m_videoView->onCloseRequest = [this] { close(u"window close (Cmd+W)"_s); };
    m_videoView->onFilesDropped = [this](const QList<QUrl>& urls) { receiveFiles(urls); };
    m_header->onBack = [this] { handleBack(); };
    m_header->onHome = [this] { showHomeInPlace(); };
    m_header->onShade = [this] { toggleShade(); };
    m_header->onLock = [this] {
        if (onToggleLock) onToggleLock(m_setup.appID, m_setup.title);
    };
    m_header->onPin = [this] {
        setPinned(!m_pinned);
        saveFrame();
    };
    m_header->onHide = [this] { hide(); };
    m_header->onClose = [this] { close(u"close button"_s); };
    m_header->onSize = [this](QWidget* button) { showSizeMenu(button); };
    m_header->onCapture = [this](QWidget* button) { showCaptureMenu(button); };

    m_panel->onResignKey = [this] { resignedKey(); };
    m_panel->onBecomeKey = [this] { becameKey(); };
    // A drag sends many moves and resizes; each would rewrite the settings file. The frame is saved
    // once the window rests (and at once on hide and close).
    m_panel->onMove = [this] { m_saveWork->start(); };
    m_panel->onResize = [this] { resized(); };
    m_panel->onShouldClose = [this] { close(u"window close (Cmd+W)"_s); };

    m_resizeWork = new QTimer(this);
    m_resizeWork->setSingleShot(true);
    m_resizeWork->setInterval(resizeDebounceMs);
    connect(m_resizeWork, &QTimer::timeout, this, [this] {
        VantleLayout::setSize(m_panel->size());
        resizeDisplay();
    });
    m_saveWork = new QTimer(this);
    m_saveWork->setSingleShot(true);
    m_saveWork->setInterval(resizeDebounceMs);
    connect(m_saveWork, &QTimer::timeout, this, [this] { saveFrame(); });
    setPinned(m_pinned);
    // The locked set changes are announced as a change of sessions (lock badges redraw).
    EventCenter::shared().observe(VantleEvent::sessionsChanged, this,
                                  [this](const QVariantMap&) { showLock(); });
}

void AndroidWindowSession::showLock() {
    m_header->setLocked(locked());
}

void AndroidWindowSession::leftScreen() {
    if (onLeftScreen) onLeftScreen(m_setup.appID);
}

AndroidWindowSession::~AndroidWindowSession() {
    // The stream may outlive the window by a moment: its callbacks must not reach a dead session.
    m_client->onFirstFrame = nullptr;
    m_client->onEnded = nullptr;
    m_client->onSnapshot = nullptr;
    m_client->onVideoSize = nullptr;
    m_client->stop();
}

void AndroidWindowSession::start(const QFuture<void>& appStopped) {
    showLock(); // the owner's callbacks are set by now
    if (onUnread) onUnread(m_setup.appID, false);
    bringToFront();
    startNotificationWatch();
    m_media->start();
    if (appStopped.isFinished()) { // a default future is finished too
        m_client->start();
        return;
    }
    m_log->write(u"Vantle: waiting for the previous window's force-stop of "_s + m_setup.package);
    auto* watcher = new QFutureWatcher<void>(this);
    // A client that was stopped meanwhile (the window closed) ends at once when started.
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_client->start();
    });
    watcher->setFuture(appStopped);
}

void AndroidWindowSession::bringToFront() {
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_videoView->setFocus();
}

void AndroidWindowSession::sendMediaKey(MediaAction action) {
    const uint32_t keycode = uint32_t(androidKeyCode(action));
    m_client->send(ScrcpyControl::key(ScrcpyControl::KeyAction::down, keycode, 0));
    m_client->send(ScrcpyControl::key(ScrcpyControl::KeyAction::up, keycode, 0));
    QTimer::singleShot(mediaRepollMs, m_media, &MediaSessionWatch::poll);
}

const std::optional<AndroidMedia>& AndroidWindowSession::media() const {
    static const std::optional<AndroidMedia> none;
    return m_closing ? none : m_media->media();
}

void AndroidWindowSession::setPinned(bool pinned) {
    m_pinned = pinned;
    const bool visible = m_panel->isVisible();
    // Changing a flag re-creates the native window: it must be shown again.
    m_panel->setWindowFlag(Qt::WindowStaysOnTopHint, pinned);
    if (visible) m_panel->show();
    m_header->setPinned(pinned);
}

void AndroidWindowSession::showHomeInPlace() {
    const QRectF frame = m_panel->frameGeometry();
    hide();
    if (onShowHome) onShowHome(frame);
}

void AndroidWindowSession::handleBack() {
    m_client->send(ScrcpyControl::backDown());
    m_client->send(ScrcpyControl::backUp());
    const int generation = ++m_backGeneration;
    for (int delayMs : backCheckDelaysMs)
        QTimer::singleShot(delayMs, this, [this, generation] { checkBack(generation); });
}

void AndroidWindowSession::checkBack(int generation) {
    if (generation != m_backGeneration || m_closing) return;
    const QString package = m_setup.package;
    QtConcurrent::run(&AndroidRuntimeCLI::pool(), [package] {
        const std::optional<QString> output =
            AndroidRuntimeCLI::runADB({u"shell"_s, u"dumpsys activity activities | grep ResumedActivity"_s});
        const QStringList lines = output.value_or(QString()).split(u'\n');
        return std::any_of(lines.cbegin(), lines.cend(),
                           [&](const QString& line) { return line.contains(u' ' + package + u'/'); });
    }).then(this, [this, generation](bool stillOpen) {
        // A failing dumpsys reads as "left the app" too: Back then closes the window.
        if (stillOpen || generation != m_backGeneration || m_closing) return;
        const QRectF frame = m_panel->frameGeometry();
        VantleLog::main().write(u"back left "_s + m_setup.package +
                                u": closing window, showing Vantle home"_s);
        close(u"back on first screen"_s);
        if (onShowHome) onShowHome(frame);
    });
}

void AndroidWindowSession::hide() {
    m_panel->hide();
    saveFrame();
    leftScreen();
}

void AndroidWindowSession::close(const QString& reason, AppStop appStop) {
    if (m_closing) return;
    VantleLog::main().write(u"close package="_s + m_setup.package + u" reason="_s + reason);
    if (appStop == AppStop::forceStop && onForceStop) onForceStop(m_setup.package);
    m_closing = true;
    leftScreen();
    m_resizeWork->stop();
    if (m_notifyTimer) m_notifyTimer->stop();
    // The recording ends now, without waiting for a key frame; a stop on its way is dropped with it.
    if (std::shared_ptr<StreamRecorder> recorder = m_client->takeRecorder())
        finishRecording(std::move(recorder));
    m_header->setRecording(false);
    if (m_snapshotTimer) m_snapshotTimer->stop();
    if (onUnread) onUnread(m_setup.appID, false);
    m_media->stop();
    if (onNowPlaying) onNowPlaying(this, std::nullopt);
    saveFrame();
    m_panel->hide();
    m_client->stop();
}

void AndroidWindowSession::saveFrame() {
    m_saveWork->stop();
    const QRect frame = m_panel->geometry();
    VantleSettings::set(windowKey(m_setup.package), QVariantMap{{u"x"_s, double(frame.x())},
                                                                {u"y"_s, double(frame.y())},
                                                                {u"w"_s, double(frame.width())},
                                                                {u"h"_s, double(frame.height())},
                                                                {u"pinned"_s, m_pinned}});
}

void AndroidWindowSession::setPanelSize(QSizeF size) {
    const QScreen* screen = m_panel->screen() ? m_panel->screen() : QGuiApplication::primaryScreen();
    const QRectF visible = screen ? QRectF(screen->availableGeometry()) : QRectF(QPointF(0, 0), size);
    m_panel->setGeometry(WindowPlacement::resized(QRectF(m_panel->geometry()), size, visible).toRect());
}

void AndroidWindowSession::receiveFiles(const QList<QUrl>& urls) {
    const QString label =
        urls.size() == 1 ? urls.first().fileName() : QString::number(urls.size()) + u" files"_s;
    VantleLog::main().write(u"files dropped on "_s + m_setup.package + u": "_s + VantleLog::escaped(label));
    if (!m_setup.sendFiles) {
        showInfo(u"Could not send"_s, u"Sending files to Android is not available here."_s);
        return;
    }
    QStringList paths;
    for (const QUrl& url : urls)
        if (url.isLocalFile()) paths.append(url.toLocalFile());
    const std::optional<int> displayID = m_client->displayID();
    showInfo(u"Sending to Android…"_s, label);
    QtConcurrent::run(&AndroidRuntimeCLI::pool(), [send = m_setup.sendFiles, paths, package = m_setup.package,
                                                   displayID] {
        return send(paths, package, displayID);
    }).then(this, [this](const AndroidFileTransfer::Result& result) {
        showInfo(result.title, result.message);
    });
}

void AndroidWindowSession::showInfo(const QString& title, const QString& text) {
    if (m_panel->isVisible()) m_banner->show({u"vantle-info"_s, m_setup.package, title, text, false, false});
}

void AndroidWindowSession::showSizeMenu(QWidget* from) {
    auto* menu = new QMenu(m_panel.get());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QSize area = m_videoView->size();
    menu->addAction(QString::number(area.width()) + u" × "_s + QString::number(area.height()) +
                    u" | Android"_s)
        ->setEnabled(false);
    menu->addSeparator();
    const QList<WindowSizePreset>& presets = WindowSizePreset::all();
    for (int tag = 0; tag < presets.size(); ++tag) {
        QAction* item = menu->addAction(presets[tag].label());
        item->setCheckable(true);
        item->setChecked(std::abs(area.width() - presets[tag].width) < 2 &&
                         std::abs(area.height() - presets[tag].height) < 2);
        connect(item, &QAction::triggered, this, [this, tag] { pickSize(tag); });
    }
    menu->addSeparator();
    menu->addAction(u"Custom: drag a window corner"_s)->setEnabled(false);
    menu->popup(from ? from->mapToGlobal(QPoint(0, from->height())) : QCursor::pos());
}

void AndroidWindowSession::pickSize(int tag) {
    if (tag < 0 || tag >= WindowSizePreset::all().size()) return;
    if (onPickSize) onPickSize(WindowSizePreset::all()[tag]);
}

void AndroidWindowSession::resignedKey() {
    if (m_pinned || m_closing || !m_panel->isVisible()) return;
    // A Vantle dialog (the password prompt, a confirmation) took the keyboard: the window stays.
    if (QApplication::activeModalWidget()) return;
    if (!VantleSettings::get(SettingsKeys::autoHide)) return;
    hide();
}

void AndroidWindowSession::becameKey() {
    const qint64 changes = clipboardChangeCount();
    if (changes == m_lastClipboardChange) return;
    m_lastClipboardChange = changes;
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty()) return;
    m_client->send(ScrcpyControl::setClipboard(text, false, m_client->nextClipboardSequence()));
}

void AndroidWindowSession::resized() {
    m_saveWork->start();
    m_resizeWork->start();
}

void AndroidWindowSession::resizeDisplay() {
    const std::optional<QSize> size =
        WindowPlacement::displaySize(QSizeF(m_videoView->size()), m_panel->devicePixelRatioF());
    if (!size) return;
    m_client->send(ScrcpyControl::resizeDisplay(size->width(), size->height()));
    m_log->write(u"Vantle: resize display "_s + QString::number(size->width()) + u'x' +
                 QString::number(size->height()));
}
