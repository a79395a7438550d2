#include "stream/SoftwareVideoSurface.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>

extern "C" {
#include <libavutil/frame.h>
}

SoftwareVideoSurface::SoftwareVideoSurface(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect SoftwareVideoSurface::pictureRect() const {
    if (!m_frame) return {};
    return aspectFitRect(size(), QSize(m_frame->width, m_frame->height)).toAlignedRect() & rect();
}

void SoftwareVideoSurface::present(VideoFrame frame) {
    if (!frame || frame->width <= 0 || frame->height <= 0) return;
    const bool sameSize = m_frame && m_frame->width == frame->width && m_frame->height == frame->height;
    m_frame = std::move(frame);
    m_unshown = true;
    // Conversion waits for the paint, so pictures that come faster than the screen repaints cost
    // no conversion.
    if (sameSize)
        update(pictureRect());
    else
        update();
}

void SoftwareVideoSurface::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect picture = pictureRect();
    const QRegion bars = event->region() - picture;
    for (const QRect& bar : bars)
        painter.fillRect(bar, Qt::black);
    if (picture.isEmpty()) return;
    const QImage& image = m_converter.convert(m_frame.get());
    if (image.isNull()) {
        painter.fillRect(picture, Qt::black);
        return;
    }
    // Filtering costs a few times the conversion. A picture within 2 % of its size on screen (the
    // usual case: the display follows the window, rounded down to multiples of 8) is drawn without
    // it; a row or column repeated here and there does not show at that scale.
    const QSizeF onScreen = QSizeF(picture.size()) * devicePixelRatioF();
    const double scale = std::max(onScreen.width() / image.width(), onScreen.height() / image.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, std::abs(scale - 1.0) > 0.02);
    painter.drawImage(QRectF(picture), image);
    painter.end();
    if (std::exchange(m_unshown, false) && onShown) onShown();
}
