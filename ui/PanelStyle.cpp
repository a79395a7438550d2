#include "ui/PanelStyle.h"

#include "core/AppLibraryStore.h"
#include "windows/PadlockGlyph.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QtMath>

using namespace Qt::Literals::StringLiterals;

namespace PanelStyle {

Colours colours() {
    Colours c;
    c.dark = QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
    if (c.dark) {
        c.background = QColor(0x1c, 0x1d, 0x21);
        c.card = QColor(0x2a, 0x2c, 0x31);
        c.text = QColor(0xf2, 0xf3, 0xf5);
        c.secondaryText = QColor(0x9a, 0x9f, 0xa8);
        c.accent = QColor(0x5b, 0x9c, 0xff);
        c.separator = QColor(0x3a, 0x3d, 0x44);
        c.hover = QColor(255, 255, 255, 22);
    } else {
        c.background = QColor(0xf6, 0xf7, 0xf9);
        c.card = QColor(0xff, 0xff, 0xff);
        c.text = QColor(0x1d, 0x1f, 0x24);
        c.secondaryText = QColor(0x6b, 0x71, 0x7c);
        c.accent = QColor(0x1f, 0x6f, 0xeb);
        c.separator = QColor(0xe1, 0xe4, 0xea);
        c.hover = QColor(0, 0, 0, 16);
    }
    return c;
}

QString styleSheet(const Colours& c) {
    const auto name = [](const QColor& colour) { return colour.name(QColor::HexArgb); };
    return uR"(
MenuPanel { background: %1; }
QWidget#launcherContent, QScrollArea#appScroll, QScrollArea#appScroll > QWidget > QWidget { background: transparent; }
QLabel { color: %3; }
QLabel#greeting { font-size: 20px; font-weight: 600; }
QLabel#statusLine, QLabel#dockSubtitle, QLabel#emptyText, QLabel#nothingMatches { color: %4; }
QLabel#sectionTitle { color: %4; font-size: 11px; font-weight: 600; letter-spacing: 0.5px; }
QLabel#emptyTitle { font-size: 17px; font-weight: 600; }
QLabel#dropOverlay { background: %7; color: white; font-size: 18px; font-weight: 600;
  border: 2px dashed white; border-radius: 16px; }
QLineEdit#searchField { background: %2; color: %3; border: 1px solid %6; border-radius: 10px;
  padding: 6px 4px; selection-background-color: %5; }
QLineEdit#searchField:focus { border: 1px solid %5; }
QWidget#dock { background: %2; border: 1px solid %6; border-radius: 14px; }
QLabel#dockTitle { font-weight: 600; }
QToolButton#addButton, QToolButton#menuButton, QToolButton#clearSearch { border: none; border-radius: 8px;
  background: transparent; }
QToolButton#addButton:hover, QToolButton#menuButton:hover, QToolButton#clearSearch:hover { background: %8; }
QToolButton#menuButton::menu-indicator { image: none; }
QPushButton { background: %2; color: %3; border: 1px solid %6; border-radius: 8px; padding: 5px 14px; }
QPushButton:hover { border: 1px solid %5; }
QPushButton:default { background: %5; color: white; border: none; font-weight: 600; }
QProgressBar { background: %6; border: none; border-radius: 3px; max-height: 6px; }
QProgressBar::chunk { background: %5; border-radius: 3px; }
QPushButton#chooseButton { background: %5; color: white; border: none; border-radius: 9px; padding: 7px 18px;
  font-weight: 600; }
QScrollArea#settingsScroll, QWidget#settingsContent, QScrollArea#settingsScroll > QWidget > QWidget { background: transparent; }
QLabel#settingsTitle { font-size: 20px; font-weight: 600; }
QLabel#settingsHeading { font-weight: 600; }
QLabel#settingsNote, QLabel#shortcutsUnavailable { color: %4; font-size: 11px; }
QLabel#settingsProblem { color: #d93025; font-size: 11px; }
QCheckBox { color: %3; spacing: 8px; }
QComboBox { background: %2; color: %3; border: 1px solid %6; border-radius: 7px; padding: 3px 8px; }
QComboBox QAbstractItemView { background: %2; color: %3; selection-background-color: %5; }
QToolButton#settingsTab { background: transparent; color: %4; padding: 4px 2px; border: none; border-radius: 8px;
  font-size: 11px; }
QToolButton#settingsTab:checked { background: %2; color: %3; font-weight: 600; }
QToolButton#settingsTab:hover { background: %8; }
QScrollBar:vertical { background: transparent; width: 8px; }
QScrollBar::handle:vertical { background: %6; border-radius: 4px; min-height: 24px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
)"_s.arg(name(c.background), name(c.card), name(c.text), name(c.secondaryText), name(c.accent),
         name(c.separator), name(QColor(c.accent.red(), c.accent.green(), c.accent.blue(), 210)),
         name(c.hover));
}

QColor stateColour(int androidState) {
    switch (AndroidState(androidState)) {
    case AndroidState::ready:
        return QColor(0x2f, 0xb3, 0x5a);
    case AndroidState::starting:
        return QColor(0xf0, 0xa2, 0x1f);
    case AndroidState::sleeping:
        return QColor(0x8e, 0x95, 0xa3);
    case AndroidState::notSetUp:
        break;
    }
    return QColor(0xe0, 0x5a, 0x47);
}

namespace {
void drawGlyph(QPainter& p, Glyph glyph, const QColor& colour, double s) {
    QPen pen(colour, s * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case Glyph::plus:
        p.drawLine(QPointF(s * 0.5, s * 0.22), QPointF(s * 0.5, s * 0.78));
        p.drawLine(QPointF(s * 0.22, s * 0.5), QPointF(s * 0.78, s * 0.5));
        break;
    case Glyph::ellipsis:
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        for (double x : {0.25, 0.5, 0.75})
            p.drawEllipse(QPointF(s * x, s * 0.5), s * 0.07, s * 0.07);
        break;
    case Glyph::search:
        p.drawEllipse(QPointF(s * 0.43, s * 0.43), s * 0.22, s * 0.22);
        p.drawLine(QPointF(s * 0.6, s * 0.6), QPointF(s * 0.8, s * 0.8));
        break;
    case Glyph::clear:
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QPointF(s * 0.5, s * 0.5), s * 0.36, s * 0.36);
        p.setPen(QPen(Qt::white, s * 0.08, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.37, s * 0.37), QPointF(s * 0.63, s * 0.63));
        p.drawLine(QPointF(s * 0.63, s * 0.37), QPointF(s * 0.37, s * 0.63));
        break;
    case Glyph::tray: {
        // A rounded phone outline with a play mark: Vantle's own mark.
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        QPainterPath body;
        body.addRoundedRect(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88), s * 0.22, s * 0.22);
        p.drawPath(body);
        QPainterPath play;
        play.moveTo(s * 0.4, s * 0.3);
        play.lineTo(s * 0.72, s * 0.5);
        play.lineTo(s * 0.4, s * 0.7);
        play.closeSubpath();
        p.setBrush(Qt::white);
        p.drawPath(play);
        break;
    }
    case Glyph::gear: {
        // A ring with eight teeth.
        const QPointF centre(s * 0.5, s * 0.5);
        p.drawEllipse(centre, s * 0.13, s * 0.13);
        p.drawEllipse(centre, s * 0.27, s * 0.27);
        for (int tooth = 0; tooth < 8; ++tooth) {
            const double angle = qDegreesToRadians(tooth * 45.0);
            const QPointF direction(std::cos(angle), std::sin(angle));
            p.drawLine(centre + direction * s * 0.3, centre + direction * s * 0.42);
        }
        break;
    }
    case Glyph::phone:
        p.drawRoundedRect(QRectF(s * 0.28, s * 0.12, s * 0.44, s * 0.76), s * 0.09, s * 0.09);
        p.drawLine(QPointF(s * 0.44, s * 0.76), QPointF(s * 0.56, s * 0.76));
        break;
    case Glyph::padlock:
        PadlockGlyph::paint(p, QPointF(s * 0.5, s * 0.5), s * 0.8, colour, PadlockGlyph::Shackle::closed);
        break;
    case Glyph::downloadCircle:
        p.drawEllipse(QPointF(s * 0.5, s * 0.5), s * 0.38, s * 0.38);
        p.drawLine(QPointF(s * 0.5, s * 0.3), QPointF(s * 0.5, s * 0.68));
        p.drawPolyline(
            QPolygonF{QPointF(s * 0.36, s * 0.54), QPointF(s * 0.5, s * 0.68), QPointF(s * 0.64, s * 0.54)});
        break;
    case Glyph::infoCircle:
        p.drawEllipse(QPointF(s * 0.5, s * 0.5), s * 0.38, s * 0.38);
        p.drawLine(QPointF(s * 0.5, s * 0.46), QPointF(s * 0.5, s * 0.68));
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QPointF(s * 0.5, s * 0.33), s * 0.05, s * 0.05);
        break;
    }
}
} // namespace

QIcon glyph(Glyph glyph, const QColor& colour) {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        drawGlyph(painter, glyph, colour, side);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace PanelStyle
