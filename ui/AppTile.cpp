#include "ui/AppTile.h"

#include "apk/AppIcon.h"
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "core/VantleEvents.h"
#include "ui/LauncherActions.h"
#include "ui/PanelStyle.h"
#include "updates/AppUpdates.h"
#include "windows/PadlockGlyph.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr double iconSide = 56;
constexpr int iconTop = 6;
constexpr int spinIntervalMs = 40;
} // namespace

AppTile::AppTile(MobileApp app, AppLibraryStore& store, LauncherActions& actions, AppIconStore& icons,
                 QWidget* parent)
    : QWidget(parent)
    , m_app(std::move(app))
    , m_store(store)
    , m_actions(actions)
    , m_icons(icons) {
    setFixedSize(tileSize);
    setCursor(Qt::PointingHandCursor);
    setToolTip(m_app.displayName());
    setAccessibleName(m_app.displayName());
    m_spinner.setInterval(spinIntervalMs);
    connect(&m_spinner, &QTimer::timeout, this, [this] {
        m_spinAngle = (m_spinAngle + 12) % 360;
        update();
    });
    for (auto changed : {&AppLibraryStore::runningAppIDsChanged, &AppLibraryStore::launchingAppIDChanged,
                         &AppLibraryStore::unreadAppIDsChanged})
        connect(&m_store, changed, this, &AppTile::followMarks);
    connect(&m_icons, &AppIconStore::imagesChanged, this, [this](const QUuid& id) {
        if (id == m_app.id) update();
    });
    // The app lock announces a change of its set as a change of sessions.
    EventCenter::shared().observe(VantleEvent::sessionsChanged, this,
                                  [this](const QVariantMap&) { followMarks(); });
    followMarks();
}

bool AppTile::isRunningMarked() const {
    return m_store.runningAppIDs().contains(m_app.id);
}
bool AppTile::isLaunchingMarked() const {
    return m_store.launchingAppID() == m_app.id;
}
bool AppTile::isLockedMarked() const {
    return m_actions.isLocked(m_app.id).value_or(false);
}
bool AppTile::hasIcon() const {
    return m_icons.images().contains(m_app.id);
}

void AppTile::followUpdates(AppUpdates* updates) {
    m_updates = updates;
    if (!m_updates) return;
    connect(m_updates, &AppUpdates::availableChanged, this, &AppTile::followMarks);
    connect(m_updates, &AppUpdates::updatingChanged, this, &AppTile::followMarks);
    followMarks();
}

std::optional<QString> AppTile::updateVersion() const {
    if (!m_updates) return std::nullopt;
    const std::optional<AppUpdate> found = m_updates->update(m_app);
    return found ? std::optional(found->versionName) : std::nullopt;
}

bool AppTile::isUpdatingMarked() const {
    if (!m_updates) return false;
    const std::optional<QString> package = AppUpdates::package(m_app);
    return package && m_updates->updating().contains(*package);
}

void AppTile::followMarks() {
    const bool turning = isLaunchingMarked() || isUpdatingMarked();
    if (turning && !m_spinner.isActive()) m_spinner.start();
    if (!turning) m_spinner.stop();
    QStringList marks;
    if (isLockedMarked()) marks << u"Locked with password"_s;
    if (updateVersion()) marks << u"Update available"_s;
    setAccessibleDescription(marks.join(u", "_s));
    setToolTip(isLockedMarked() ? m_app.displayName() + u" — Locked with password"_s : m_app.displayName());
    update();
}

QString AppTile::revealTitle() {
#ifdef Q_OS_MACOS
    return u"Show APK in Finder"_s;
#else
    return u"Show APK in Files"_s;
#endif
}

std::unique_ptr<QMenu> AppTile::makeContextMenu() {
    // Without a parent: an action may remove the entry and so the tile while the menu is open.
    auto menu = std::make_unique<QMenu>();
    // Each action works on the entry as it is when chosen, not as it was when the tile was drawn.
    const QUuid id = m_app.id;
    menu->addAction(m_app.isFavorite ? u"Remove from favourites"_s : u"Add to favourites"_s, this,
                    [this, id] {
                        if (const auto app = m_store.app(id)) m_store.toggleFavorite(*app);
                    });
    if (const std::optional<bool> inTray = m_actions.isInTray(id))
        menu->addAction(*inTray ? u"Remove from tray"_s : u"Show in tray"_s, this,
                        [this, id] { m_actions.toggleInTray(id); });
    if (const std::optional<QString> version = updateVersion(); version && !isUpdatingMarked())
        menu->addAction(u"Update to "_s + *version, this, [this, id] {
            if (const auto app = m_store.app(id); app && m_updates) m_updates->install(*app, m_store);
        });
    if (const std::optional<bool> locked = m_actions.isLocked(id))
        menu->addAction(*locked ? u"Remove password lock"_s : u"Lock with password"_s, this, [this, id] {
            if (const auto app = m_store.app(id)) m_actions.toggleLock(*app);
        });
    if (m_actions.offersBackups())
        menu->addAction(u"Back up app data…"_s, this, [this, id] {
            if (const auto app = m_store.app(id)) m_actions.backup(*app);
        });
    menu->addAction(revealTitle(), this, [this] { m_actions.revealInFileManager(m_app.sourcePath); });
    menu->addSeparator();
    menu->addAction(u"Remove from Vantle"_s, this, [this, id] {
        if (const auto app = m_store.app(id)) m_store.remove(*app);
    });
    menu->addAction(u"Uninstall from Android…"_s, this, [this, id] {
        if (const auto app = m_store.app(id)) m_actions.confirmUninstall(*app);
    });
    return menu;
}

void AppTile::paintEvent(QPaintEvent*) {
    const auto colours = PanelStyle::colours();
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                           QPainter::TextAntialiasing);

    if (m_hovered || m_pressed) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colours.hover);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 14, 14);
    }

    const QRectF iconRect((width() - iconSide) / 2, iconTop, iconSide, iconSide);
    AppIcon::forApp(m_app.displayName(), iconSide, m_icons.image(m_app)).paint(painter, iconRect.topLeft());

    if (isLaunchingMarked() || isUpdatingMarked()) {
        // A veil over the icon with a turning ring: the app is being opened or updated.
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 90));
        const double radius = AppIcon::forApp(m_app.displayName(), iconSide, std::nullopt).radius(iconSide);
        painter.drawRoundedRect(iconRect, radius, radius);
        painter.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(iconRect.adjusted(16, 16, -16, -16), -m_spinAngle * 16, 270 * 16);
    }
    if (isLockedMarked()) {
        // A padlock on a disc at the icon's lower left: the app asks for the password to open.
        const QPointF centre(iconRect.left() + 4, iconRect.bottom() - 4);
        painter.setPen(QPen(colours.background, 2));
        painter.setBrush(QColor(0x37, 0x47, 0x4f));
        painter.drawEllipse(centre, 9, 9);
        PadlockGlyph::paint(painter, centre + QPointF(0, 0.5), 11, Qt::white, PadlockGlyph::Shackle::closed);
    }
    if (updateVersion() && !isUpdatingMarked()) {
        // "Update available": a blue disc with a downward arrow on the icon's lower right corner.
        const QPointF centre(iconRect.right() - 3, iconRect.bottom() - 3);
        painter.setPen(QPen(colours.background, 2));
        painter.setBrush(QColor(0x1e, 0x88, 0xe5));
        painter.drawEllipse(centre, 8, 8);
        painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(centre + QPointF(0, -4), centre + QPointF(0, 3.5));
        painter.drawPolyline(
            QPolygonF{centre + QPointF(-3.2, 0.5), centre + QPointF(0, 3.8), centre + QPointF(3.2, 0.5)});
    }
    if (m_store.unreadAppIDs().contains(m_app.id)) {
        painter.setPen(QPen(colours.background, 2));
        painter.setBrush(QColor(0xe5, 0x39, 0x35));
        painter.drawEllipse(QPointF(iconRect.right() - 3, iconRect.top() + 3), 6, 6);
    }

    QFont nameFont = font();
    nameFont.setPixelSize(11);
    painter.setFont(nameFont);
    painter.setPen(colours.text);
    const QRectF nameRect(2, iconRect.bottom() + 5, width() - 4, 16);
    const QString name =
        painter.fontMetrics().elidedText(m_app.displayName(), Qt::ElideRight, int(nameRect.width()));
    painter.drawText(nameRect, Qt::AlignHCenter | Qt::AlignTop, name);

    if (isRunningMarked()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colours.accent);
        painter.drawEllipse(QPointF(width() / 2.0, nameRect.bottom() + 5), 2.5, 2.5);
    }
}

void AppTile::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    m_pressed = true;
    update();
}

void AppTile::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed) return QWidget::mouseReleaseEvent(event);
    m_pressed = false;
    update();
    // A press that is dragged off the tile and released elsewhere is no click.
    if (!rect().contains(event->position().toPoint())) return;
    if (const auto app = m_store.app(m_app.id)) m_actions.launch(*app);
}

void AppTile::contextMenuEvent(QContextMenuEvent* event) {
    const auto menu = makeContextMenu();
    menu->exec(event->globalPos());
}

void AppTile::enterEvent(QEnterEvent*) {
    m_hovered = true;
    update();
}

void AppTile::leaveEvent(QEvent*) {
    m_hovered = false;
    update();
}
