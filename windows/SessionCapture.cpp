// The app window's screenshots, its capture menu and the debug snapshots. GUI thread.
#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "platform/Locations.h"
#include "platform/SystemSound.h"
#include "stream/AndroidStreamClient.h"
#include "stream/AndroidVideoView.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowSession.h"
#include "windows/CaptureFolders.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// Written whole or not at all.
bool savePNG(const QString& path, const QImage& image) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit();
}

QString size(QSize size) {
    return QString::number(size.width()) + u'x' + QString::number(size.height());
}

} // namespace

QMenu* AndroidWindowSession::showCaptureMenu(QWidget* from) {
    auto* menu = new QMenu(m_panel.get());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(u"captureMenu"_s);
    connect(menu->addAction(u"Take screenshot"_s), &QAction::triggered, this, [this] { takeScreenshot(); });
    QAction* record = menu->addAction(m_recording == Recording::idle ? u"Start recording (with sound)"_s
                                                                     : u"Stop recording"_s);
    record->setEnabled(m_recording != Recording::stopping);
    connect(record, &QAction::triggered, this, [this] { toggleRecording(); });
    // The lock's items only where the app lock is wired.
    if (onToggleLock) {
        menu->addSeparator();
        QAction* lock =
            menu->addAction(locked() ? u"Remove the password lock"_s : u"Lock this app with a password"_s);
        connect(lock, &QAction::triggered, this, [this] {
            if (onToggleLock) onToggleLock(m_setup.appID, m_setup.title);
        });
    }
    menu->addSeparator();
    connect(menu->addAction(u"Show screenshots && recordings"_s), &QAction::triggered, this,
            [this] { openCaptures(); });
    menu->popup(from ? from->mapToGlobal(QPoint(0, from->height() + 4)) : QCursor::pos());
    return menu;
}

void AndroidWindowSession::takeScreenshot() {
    m_screenshotPending = true;
    m_client->requestSnapshot();
}

void AndroidWindowSession::handleSnapshot(const std::shared_ptr<ImageBox>& box) {
    if (!box || !box->image) return;
    if (std::exchange(m_screenshotPending, false))
        saveScreenshot(*box->image);
    else if (m_snapshotTimer)
        writeSnapshot(*box->image);
}

void AndroidWindowSession::saveScreenshot(const QImage& image) {
    const QString path = CaptureFolders::file(CaptureFolders::pictures(), m_setup.title, u"png"_s);
    // A screenshot that did not reach the disk is not announced as saved.
    if (!savePNG(path, image)) {
        QFile::remove(path); // the empty name it reserved
        VantleLog::main().write(u"screenshot: could not write "_s + path);
        return;
    }
    QGuiApplication::clipboard()->setImage(image);
    SystemSound::play(SystemSound::Sound::screenCapture);
    showInfo(u"Screenshot saved"_s, u"Pictures › Vantle (also copied)"_s);
    VantleLog::main().write(u"screenshot: "_s + path + u' ' + size(image.size()));
}

void AndroidWindowSession::openCaptures() {
    QDir().mkpath(CaptureFolders::pictures());
    QDir().mkpath(CaptureFolders::movies());
    QDesktopServices::openUrl(QUrl::fromLocalFile(CaptureFolders::pictures()));
}

void AndroidWindowSession::startDebugSnapshots() {
    if (!m_snapshotTimer) {
        m_snapshotTimer = new QTimer(this);
        m_snapshotTimer->setInterval(snapshotIntervalMs);
        connect(m_snapshotTimer, &QTimer::timeout, this, [this] {
            if (!m_closing && m_snapshotIndex < maxSnapshots)
                m_client->requestSnapshot();
            else
                m_snapshotTimer->stop();
        });
    }
    if (!m_snapshotTimer->isActive()) m_snapshotTimer->start();
    m_client->requestSnapshot();
}

void AndroidWindowSession::writeSnapshot(const QImage& image) {
    QImage content = m_panel->grab().toImage();
    {
        // The video view draws with the GPU, which a grab of the widgets may miss.
        QPainter painter(&content);
        const QRect video(m_videoView->mapTo(m_panel.get(), QPoint(0, 0)), m_videoView->size());
        painter.drawImage(QRectF(video), image);
    }
    const QString folder = Locations::logs() + u"/snapshots"_s;
    QDir().mkpath(folder);
    const QString path = folder + u'/' + m_setup.package + u'-' +
                         u"%1"_s.arg(m_snapshotIndex, 2, 10, QLatin1Char('0')) + u".png"_s;
    ++m_snapshotIndex; // a failed write counts too: the series stays bounded
    if (!savePNG(path, content)) {
        m_log->write(u"Vantle: snapshot not written "_s + path);
        return;
    }
    const QPoint at = m_panel->pos();
    m_log->write(u"Vantle: snapshot "_s + path + u" frame="_s + size(image.size()) + u" window="_s +
                 QString::number(at.x()) + u',' + QString::number(at.y()) + u' ' + size(m_panel->size()) +
                 u" visible="_s + (m_panel->isVisible() ? u"yes"_s : u"no"_s) + u" key="_s +
                 (m_panel->isActiveWindow() ? u"yes"_s : u"no"_s));
}
