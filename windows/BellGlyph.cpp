#include "windows/BellGlyph.h"

#include "windows/GlyphCanvas.h"

#include <QPainterPath>

QIcon BellGlyph::icon(int side, const QColor& colour) {
    return filledGlyph(side, colour, [](QPainter& painter, double u) {
        // A dome from 3 to 13 wide, a flared rim at 12, the clapper below.
        QPainterPath bell;
        bell.moveTo(2 * u, 12 * u);
        bell.cubicTo(3.5 * u, 10.5 * u, 3.5 * u, 9 * u, 3.5 * u, 7 * u);
        bell.cubicTo(3.5 * u, 3.8 * u, 5.5 * u, 2.2 * u, 8 * u, 2.2 * u);
        bell.cubicTo(10.5 * u, 2.2 * u, 12.5 * u, 3.8 * u, 12.5 * u, 7 * u);
        bell.cubicTo(12.5 * u, 9 * u, 12.5 * u, 10.5 * u, 14 * u, 12 * u);
        bell.closeSubpath();
        painter.drawPath(bell);
        painter.drawEllipse(QPointF(8 * u, 13.3 * u), 1.6 * u, 1.6 * u);
    });
}
