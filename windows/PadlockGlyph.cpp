#include "windows/PadlockGlyph.h"

#include "windows/GlyphCanvas.h"

#include <QPainter>
#include <QPixmap>

namespace PadlockGlyph {

void paint(QPainter& painter, QPointF centre, double height, const QColor& colour, Shackle shackle) {
    // Proportions of a 14-unit padlock: a body 9 wide and 6.5 tall under a shackle 6 wide.
    const double unit = height / 14.0;
    const QRectF body(centre.x() - 4.5 * unit, centre.y() - 0.5 * unit, 9 * unit, 6.5 * unit);
    const double shackleLeft = centre.x() - 3 * unit;
    // An open shackle swings up on its right leg.
    const double lift = shackle == Shackle::open ? 2.5 * unit : 0;
    const QRectF arc(shackleLeft, centre.y() - 7 * unit - lift, 6 * unit, 7 * unit);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.6 * unit, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(arc, 0, 180 * 16);
    const double legTop = arc.center().y();
    painter.drawLine(QPointF(shackleLeft + 6 * unit, legTop), QPointF(shackleLeft + 6 * unit, body.top()));
    if (shackle == Shackle::closed)
        painter.drawLine(QPointF(shackleLeft, legTop), QPointF(shackleLeft, body.top()));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(body, 1.5 * unit, 1.5 * unit);
    painter.restore();
}

QIcon icon(int side, const QColor& colour, Shackle shackle) {
    QPixmap pixmap = glyphCanvas(side);
    QPainter painter(&pixmap);
    paint(painter, QPointF(side / 2.0, side / 2.0 + side * 0.12), side * 0.8, colour, shackle);
    painter.end();
    return QIcon(pixmap);
}

} // namespace PadlockGlyph
