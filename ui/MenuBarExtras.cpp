#include "ui/MenuBarExtras.h"

#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "ui/AppWindows.h"
#include "ui/HomePanelController.h"
#include "ui/LauncherActions.h"
#include "windows/VantleLayout.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

using namespace Qt::Literals::StringLiterals;

namespace {
// In points of the 18-point item: the clip's inset and corner, the dot, the letter.
constexpr double designPoints = 18, clipInset = 0.5, cornerRadius = 4.5, dotPoints = 7, letterPoints = 11;
const QColor purple(0xAF, 0x52, 0xDE); // the desktop-neutral stand-in for the system purple
const QColor dotRed(0xFF, 0x3B, 0x30);
} // namespace

struct MenuBarExtras::Item {
    std::unique_ptr<QMenu> menu;           // outlives the tray icon that shows it
    std::unique_ptr<QSystemTrayIcon> tray; // destroyed first
    ~Item() { tray.reset(); }
};

MenuBarExtras::MenuBarExtras(AppLibraryStore& store, LauncherActions& actions, AppWindows& windows,
                             AppIconStore& icons, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_actions(actions)
    , m_windows(windows)
    , m_icons(icons)
    , m_player(store, actions, windows) {}

MenuBarExtras::~MenuBarExtras() = default;

bool MenuBarExtras::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MenuBarExtras::attach() {
    connect(&m_store, &AppLibraryStore::appsChanged, this, &MenuBarExtras::rebuild);
    connect(&m_store, &AppLibraryStore::unreadAppIDsChanged, this, &MenuBarExtras::rebuild);
    connect(&m_store, &AppLibraryStore::nowPlayingChanged, this, &MenuBarExtras::updatePlayer);
    connect(&m_store, &AppLibraryStore::nowPlayingAppIDChanged, this, &MenuBarExtras::updatePlayer);
    connect(&m_icons, &AppIconStore::imagesChanged, this, [this](const QUuid& id) {
        if (const auto it = m_items.find(id); it != m_items.end()) redraw(id, **it);
    });
    EventCenter::shared().observe(VantleEvent::sessionsChanged, this,
                                  [this](const QVariantMap&) { rebuild(); });
    // The settings page's switch takes the player out of the tray, or brings it back, at once.
    EventCenter::shared().observe(SettingsKeys::miniPlayer.name, this,
                                  [this](const QVariantMap&) { updatePlayer(); });
    rebuild();
}

QList<QUuid> MenuBarExtras::pinnedIDs() {
    QList<QUuid> ids;
    for (const QVariant& value : VantleSettings::get(SettingsKeys::menuBarApps)) {
        const QUuid id = QUuid::fromString(value.toString());
        if (!id.isNull() && !ids.contains(id)) ids.append(id);
    }
    return ids;
}

void MenuBarExtras::setPinnedIDs(const QList<QUuid>& ids) {
    QVariantList values;
    for (const QUuid& id : ids)
        values.append(id.toString(QUuid::WithoutBraces));
    VantleSettings::set(SettingsKeys::menuBarApps, values);
}

void MenuBarExtras::togglePinned(const QUuid& appID) {
    QList<QUuid> ids = pinnedIDs();
    if (!ids.removeOne(appID)) ids.append(appID);
    setPinnedIDs(ids);
    rebuild();
}

QSystemTrayIcon* MenuBarExtras::item(const QUuid& appID) const {
    const auto it = m_items.constFind(appID);
    return it == m_items.cend() ? nullptr : (*it)->tray.get();
}

void MenuBarExtras::rebuild() {
    updatePlayer();
    if (!isAvailable()) {
        m_items.clear();
        return;
    }
    QList<QUuid> wanted;
    for (const QUuid& id : pinnedIDs())
        if (m_store.app(id)) wanted.append(id);
    for (auto it = m_items.begin(); it != m_items.end();)
        it = wanted.contains(it.key()) ? std::next(it) : m_items.erase(it);
    for (const QUuid& id : std::as_const(wanted)) {
        auto it = m_items.find(id);
        if (it == m_items.end()) {
            auto item = std::make_shared<Item>();
            item->menu = std::make_unique<QMenu>();
            QMenu* menu = item->menu.get();
            connect(menu, &QMenu::aboutToShow, this, [this, menu, id] { fillMenu(*menu, id); });
            item->tray = std::make_unique<QSystemTrayIcon>();
            item->tray->setContextMenu(menu);
            QSystemTrayIcon* tray = item->tray.get();
            connect(tray, &QSystemTrayIcon::activated, this,
                    [this, tray, id](QSystemTrayIcon::ActivationReason why) {
                        // A second click soon after the first comes as a double click; each click counts.
                        if (why != QSystemTrayIcon::Trigger && why != QSystemTrayIcon::DoubleClick) return;
                        // Some trays do not say where their items are; the pointer is there at the click.
                        const QRect frame = tray->geometry();
                        appItemClicked(id, frame.isValid() ? frame : QRect(QCursor::pos(), QSize(1, 1)));
                    });
            it = m_items.insert(id, item);
        }
        redraw(id, **it);
        (*it)->tray->show();
    }
}

void MenuBarExtras::redraw(const QUuid& appID, Item& item) {
    const std::optional<MobileApp> app = m_store.app(appID);
    if (!app) return;
    const QImage image =
        itemImage(m_icons.image(*app), app->displayName(), m_store.unreadAppIDs().contains(appID));
    item.tray->setIcon(QIcon(QPixmap::fromImage(image)));
    item.tray->setToolTip(app->displayName());
}

QImage MenuBarExtras::itemImage(const std::optional<QImage>& icon, const QString& name, bool unread,
                                int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(pixels / designPoints, pixels / designPoints);
    const QRectF square(clipInset, clipInset, designPoints - 2 * clipInset, designPoints - 2 * clipInset);
    QPainterPath rounded;
    rounded.addRoundedRect(square, cornerRadius, cornerRadius);
    if (icon && !icon->isNull()) {
        painter.save();
        painter.setClipPath(rounded);
        painter.drawImage(square, *icon);
        painter.restore();
    } else {
        painter.fillPath(rounded, purple);
        QFont font = painter.font();
        font.setPixelSize(int(letterPoints));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(square, Qt::AlignCenter, name.left(1).toUpper());
    }
    if (unread) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(dotRed);
        painter.drawEllipse(QRectF(designPoints - dotPoints, 0, dotPoints, dotPoints));
    }
    return image;
}

void MenuBarExtras::appItemClicked(const QUuid& appID, const QRect& itemFrame) {
    const std::optional<MobileApp> app = m_store.app(appID);
    if (!app) return;
    if (m_windows.hasWindow(appID) && m_windows.isVisible(appID)) {
        m_windows.hide(appID);
        return;
    }
    open(*app, itemFrame);
}

void MenuBarExtras::open(const MobileApp& app, const QRect& itemFrame) {
    const QSize size = VantleLayout::size().toSize();
    const QScreen* screen = QGuiApplication::screenAt(itemFrame.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QPoint topLeft = HomePanelController::placement(itemFrame, screen->availableGeometry(), size);
        if (m_windows.hasWindow(app.id))
            m_windows.move(app.id, topLeft);
        else
            m_windows.setPendingAnchor(QRectF(QPointF(topLeft), QSizeF(size.width(), 0)));
    }
    m_actions.launch(app);
}

void MenuBarExtras::fillMenu(QMenu& menu, const QUuid& appID) {
    menu.clear();
    const std::optional<MobileApp> app = m_store.app(appID);
    if (!app) return;
    const QString name = app->displayName();
    const bool hasWindow = m_windows.hasWindow(appID);
    if (hasWindow) {
        menu.addAction(u"Show "_s + name, this, [this, appID] { m_windows.show(appID); });
        menu.addAction(u"Close "_s + name, this, [this, appID] { m_windows.close(appID); });
    } else {
        menu.addAction(u"Open "_s + name, this, [this, appID] {
            const QSystemTrayIcon* tray = item(appID);
            const QRect frame = tray ? tray->geometry() : QRect();
            if (const auto app = m_store.app(appID))
                open(*app, frame.isValid() ? frame : QRect(QCursor::pos(), QSize(1, 1)));
        });
    }
    if (const std::optional<bool> locked = m_actions.isLocked(appID))
        menu.addAction(*locked ? u"Remove password lock"_s : u"Lock with password"_s, this, [this, appID] {
            if (const auto app = m_store.app(appID)) m_actions.toggleLock(*app);
        });
    menu.addSeparator();
    // Queued: the menu showing this entry belongs to the item that unpinning removes.
    menu.addAction(u"Remove from tray"_s, this, [this, appID] {
        QMetaObject::invokeMethod(
            this, [this, appID] { togglePinned(appID); }, Qt::QueuedConnection);
    });
}
