#include "ui/HomePanelController.h"

#include "ui/LauncherActions.h"
#include "ui/PanelStyle.h"
#include "windows/VantleLayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QLayout>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int edgeMargin = 6, anchorGap = 4;
constexpr int glyphSnapshotPixels = 64;

QIcon trayGlyph() {
    return PanelStyle::glyph(PanelStyle::Glyph::tray, PanelStyle::colours().accent);
}
} // namespace

HomePanelController::HomePanelController(AppLibraryStore& store, LauncherActions& actions,
                                         MenuPanel::Environment environment, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_actions(actions)
    , m_environment(std::move(environment)) {}

HomePanelController::~HomePanelController() = default;

HomePanelController::Presentation HomePanelController::availablePresentation() {
    return QSystemTrayIcon::isSystemTrayAvailable() ? Presentation::floating : Presentation::window;
}

MenuPanel& HomePanelController::makePanel(Presentation presentation) {
    if (m_panel) return *m_panel;
    m_presentation = presentation;
    m_panel = std::make_unique<MenuPanel>(m_store, m_actions, m_environment);
    if (presentation == Presentation::floating)
        m_panel->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_panel->setMinimumSize(VantleLayout::minimumSize.toSize());
    m_panel->resize(VantleLayout::size().toSize());
    m_panel->installEventFilter(this);
    connect(m_panel.get(), &MenuPanel::dismissRequested, this, [this] {
        if (m_presentation == Presentation::floating) m_panel->hide();
    });
    return *m_panel;
}

void HomePanelController::start(Presentation presentation) {
    makePanel(presentation);
    if (m_presentation == Presentation::window) {
        m_store.setStatusMessage(noTrayMessage);
        showPanel();
        return;
    }
    m_tray = std::make_unique<QSystemTrayIcon>(trayGlyph());
    m_tray->setToolTip(u"Vantle"_s);
    m_trayMenu.addAction(u"Show Vantle"_s, this, [this] { showPanel(); });
    m_trayMenu.addSeparator();
    m_trayMenu.addAction(u"Quit Vantle"_s, this, [this] { m_actions.quit(); });
    m_tray->setContextMenu(&m_trayMenu);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger) return;
                // Some trays do not say where their icons are; the pointer is there at the click.
                const QRect icon = m_tray->geometry();
                togglePanel(icon.isValid() ? icon : QRect(QCursor::pos(), QSize(1, 1)));
            });
    m_tray->show();
}

QString HomePanelController::writeSnapshots(const QString& folder) {
    const QString snapshots = folder + u"/snapshots"_s;
    if (!QDir().mkpath(snapshots)) return u"cannot create "_s + snapshots;
    MenuPanel& panel = makePanel();
    panel.ensurePolished();
    if (QLayout* layout = panel.layout()) layout->activate();
    const QString panelImage = folder + u"/menu-panel.png"_s;
    if (!panel.grab().save(panelImage, "PNG")) return u"cannot write "_s + panelImage;
    const QString glyphImage = snapshots + u"/glyph.png"_s;
    if (!trayGlyph().pixmap(glyphSnapshotPixels).save(glyphImage, "PNG"))
        return u"cannot write "_s + glyphImage;
    return {};
}

void HomePanelController::showPanel(std::optional<QRect> anchor) {
    MenuPanel& panel = makePanel();
    if (anchor && m_presentation == Presentation::floating) {
        const QScreen* screen = QGuiApplication::screenAt(anchor->center());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) panel.move(placement(*anchor, screen->availableGeometry(), panel.size()));
    }
    panel.show();
    panel.raise();
    panel.activateWindow();
}

void HomePanelController::togglePanel(std::optional<QRect> anchor) {
    if (m_panel && m_panel->isVisible()) {
        m_panel->hide();
        return;
    }
    showPanel(anchor);
}

QPoint HomePanelController::placement(const QRect& anchor, const QRect& screen, const QSize& size) {
    const int leftmost = screen.left() + edgeMargin;
    const int rightmost = std::max(leftmost, screen.right() + 1 - size.width() - edgeMargin);
    const int midX = anchor.x() + anchor.width() / 2;
    const int x = std::clamp(midX - size.width() / 2, leftmost, rightmost);
    const bool anchorAtTop = anchor.center().y() < screen.center().y();
    const int y = anchorAtTop ? anchor.bottom() + 1 + anchorGap : anchor.top() - anchorGap - size.height();
    const int topmost = screen.top() + edgeMargin;
    const int lowest = std::max(topmost, screen.bottom() + 1 - size.height() - edgeMargin);
    return {x, std::clamp(y, topmost, lowest)};
}

bool HomePanelController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_panel.get()) return false;
    switch (event->type()) {
    case QEvent::WindowActivate:
        m_actions.prewarm();
        break;
    case QEvent::WindowDeactivate:
        // Decided after the activation settled: the panel's own menus and dialogs keep it up.
        if (m_presentation == Presentation::floating)
            QTimer::singleShot(0, m_panel.get(), [this] { putAwayUnlessActive(); });
        break;
    case QEvent::Close:
        // A floating panel is only put away; it lives as long as Vantle.
        if (m_presentation == Presentation::floating) {
            event->ignore();
            m_panel->hide();
            return true;
        }
        break;
    default:
        break;
    }
    return false;
}

void HomePanelController::putAwayUnlessActive() {
    if (!m_panel->isVisible()) return;
    if (QApplication::activeWindow() || QApplication::activePopupWidget() ||
        QApplication::activeModalWidget())
        return;
    m_panel->hide();
}
