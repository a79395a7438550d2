#pragma once

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
