#include "windows/CameraGlyph.h"

#include "windows/GlyphCanvas.h"

#include <QPainterPath>

QIcon CameraGlyph::camera(int side, const QColor& colour) {
    return filledGlyph(side, colour, [](QPainter& painter, double u) {
        // The body from 1 to 15 wide and 4.5 to 13.5 high, the viewfinder hump on top, the lens cut
        // out of the body.
        QPainterPath body;
        body.addRoundedRect(QRectF(1 * u, 4.5 * u, 14 * u, 9 * u), 2 * u, 2 * u);
        body.addRoundedRect(QRectF(5 * u, 2.6 * u, 6 * u, 3 * u), 1 * u, 1 * u);
        QPainterPath lens;
        lens.addEllipse(QPointF(8 * u, 9 * u), 3 * u, 3 * u);
        painter.drawPath(body.simplified().subtracted(lens));
        painter.drawEllipse(QPointF(8 * u, 9 * u), 1.7 * u, 1.7 * u);
    });
}

QIcon CameraGlyph::recording(int side, const QColor& colour) {
    return filledGlyph(side, colour, [](QPainter& painter, double u) {
        // A filled disc with a ring cut into it around the record dot.
        const auto circle = [u](double radius) {
            QPainterPath path;
            path.addEllipse(QPointF(8 * u, 8 * u), radius * u, radius * u);
            return path;
        };
        painter.drawPath(circle(7).subtracted(circle(4.6)).united(circle(3.4)));
    });
}
