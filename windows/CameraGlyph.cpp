#include "windows/CameraGlyph.h"

#include "windows/GlyphCanvas.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon CameraGlyph::camera(int side, const QColor& colour) {
    QPixmap pixmap = glyphCanvas(side);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // On a 16-unit grid: the body from 1 to 15 wide and 4.5 to 13.5 high, the viewfinder hump on
    // top, the lens cut out of the body.
    const double u = side / 16.0;
    QPainterPath body;
    body.addRoundedRect(QRectF(1 * u, 4.5 * u, 14 * u, 9 * u), 2 * u, 2 * u);
    body.addRoundedRect(QRectF(5 * u, 2.6 * u, 6 * u, 3 * u), 1 * u, 1 * u);
    body = body.simplified();
    QPainterPath lens;
    lens.addEllipse(QPointF(8 * u, 9 * u), 3 * u, 3 * u);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(body.subtracted(lens));
    painter.drawEllipse(QPointF(8 * u, 9 * u), 1.7 * u, 1.7 * u);
    painter.end();
    return QIcon(pixmap);
}

QIcon CameraGlyph::recording(int side, const QColor& colour) {
    QPixmap pixmap = glyphCanvas(side);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double u = side / 16.0;
    // A filled disc with a ring cut into it around the record dot.
    QPainterPath disc;
    disc.addEllipse(QPointF(8 * u, 8 * u), 7 * u, 7 * u);
    QPainterPath ring;
    ring.addEllipse(QPointF(8 * u, 8 * u), 4.6 * u, 4.6 * u);
    QPainterPath dot;
    dot.addEllipse(QPointF(8 * u, 8 * u), 3.4 * u, 3.4 * u);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(disc.subtracted(ring).united(dot));
    painter.end();
    return QIcon(pixmap);
}
