#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSize>

// A transparent square of `side` points to draw a glyph on, at `ratio` device pixels a point (2 by
// default: sharp on screens with a device pixel ratio of 2, and scaled down cleanly elsewhere).
inline QPixmap glyphCanvas(int side, qreal ratio = 2.0) {
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A glyph filled in one colour: `draw(painter, u)` paints on a 16-unit grid (u points a unit) with
// antialiasing, no pen and `colour` as the brush.
template <typename Draw> QIcon filledGlyph(int side, const QColor& colour, Draw draw) {
    QPixmap pixmap = glyphCanvas(side);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    draw(painter, side / 16.0);
    painter.end();
    return QIcon(pixmap);
}
