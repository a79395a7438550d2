#include "ui/MiniPlayer.h"

#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "ui/AppWindows.h"
#include "ui/LauncherActions.h"

#include <QPainter>
#include <QPainterPath>

using namespace Qt::Literals::StringLiterals;

MiniPlayer::MiniPlayer(AppLibraryStore& store, LauncherActions& actions, AppWindows& windows, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_actions(actions)
    , m_windows(windows) {}

MiniPlayer::~MiniPlayer() {
    remove();
}

QString MiniPlayer::titleFor(const QString& mediaTitle) {
    if (mediaTitle.size() >= cutFromCharacters) return u' ' + mediaTitle.left(keptCharacters) + u'…';
    return u' ' + mediaTitle;
}

void MiniPlayer::remove() {
    m_tray.reset();
    m_menu.reset();
    m_title.clear();
}

void MiniPlayer::update() {
    const std::optional<QUuid> appID = m_store.nowPlayingAppID();
    const std::optional<AndroidMedia>& media = m_store.nowPlaying();
    if (!VantleSettings::get(SettingsKeys::miniPlayer) || !media || !appID || !m_store.app(*appID) ||
        !m_windows.hasWindow(*appID) || !QSystemTrayIcon::isSystemTrayAvailable()) {
        remove();
        return;
    }
    if (!m_tray) {
        m_menu = std::make_unique<QMenu>();
        // Built when it opens, so that it always shows the media of that moment.
        connect(m_menu.get(), &QMenu::aboutToShow, this, [this] { fillMenu(*m_menu); });
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setContextMenu(m_menu.get());
    }
    m_title = titleFor(media->title);
    // A tray item has no room for text beside its image; the title is its tooltip.
    m_tray->setToolTip(m_title.mid(1));
    m_tray->setIcon(QIcon(QPixmap::fromImage(image(media->playing))));
    m_tray->show();
}

QImage MiniPlayer::image(bool playing, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / 18.0, pixels / 18.0); // drawn on the 18-point item
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x3A, 0x3A, 0x3C));
    if (playing) {
        // A quaver: the head, the stem and the flag.
        painter.drawEllipse(QRectF(3.5, 11.5, 6, 4.5));
        painter.drawRect(QRectF(8, 2.5, 1.6, 11));
        QPainterPath flag;
        flag.moveTo(8, 2.5);
        flag.cubicTo(10.5, 3.5, 14.5, 5, 13.5, 9.5);
        flag.cubicTo(12.8, 7.5, 11, 6.5, 9.6, 6.5);
        flag.closeSubpath();
        painter.drawPath(flag);
    } else {
        painter.drawRoundedRect(QRectF(4.5, 3.5, 3.2, 11), 1, 1);
        painter.drawRoundedRect(QRectF(10.3, 3.5, 3.2, 11), 1, 1);
    }
    return image;
}

void MiniPlayer::fillMenu(QMenu& menu) {
    menu.clear();
    const std::optional<QUuid> appID = m_store.nowPlayingAppID();
    const std::optional<AndroidMedia> media = m_store.nowPlaying();
    const std::optional<MobileApp> app = appID ? m_store.app(*appID) : std::nullopt;
    if (!media || !app) return;
    menu.addAction(media->title)->setEnabled(false);
    if (!media->artist.isEmpty()) menu.addAction(media->artist)->setEnabled(false);
    menu.addSeparator();
    const QUuid id = app->id;
    const auto key = [this, id](MediaAction action) {
        return [this, id, action] { m_actions.mediaKey(id, action); };
    };
    menu.addAction(media->playing ? u"Pause"_s : u"Play"_s, this, key(MediaAction::playPause));
    menu.addAction(u"Next"_s, this, key(MediaAction::next));
    menu.addAction(u"Previous"_s, this, key(MediaAction::previous));
    menu.addSeparator();
    const QString name = app->displayName();
    menu.addAction(u"Show "_s + name, this, [this, id] { m_windows.show(id); });
    // Closing the window ends the record and so this item, whose menu is running: later.
    menu.addAction(u"Stop and close "_s + name, this, [this, id] {
        QMetaObject::invokeMethod(
            this, [this, id] { m_windows.close(id); }, Qt::QueuedConnection);
    });
}
