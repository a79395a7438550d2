#include "stream/SoftwareVideoSurface.h"

#include "stream/H264Decoder.h"

#include <QPainter>

SoftwareVideoSurface::SoftwareVideoSurface(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SoftwareVideoSurface::present(VideoFrame frame) {
    QImage image = H264Decoder::toImage(frame.get());
    if (image.isNull()) return;
    m_image = std::move(image);
    m_unshown = true;
    update();
}

void SoftwareVideoSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(aspectFitRect(size(), m_image.size()), m_image);
    painter.end();
    if (std::exchange(m_unshown, false) && onShown) onShown();
}
