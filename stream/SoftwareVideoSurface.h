#pragma once

#include "stream/VideoSurface.h"

#include <QImage>
#include <QWidget>

// The QPainter surface: converts each picture to RGB with libswscale and scales it while painting.
class SoftwareVideoSurface final : public QWidget, public VideoSurface {
public:
    explicit SoftwareVideoSurface(QWidget* parent);
    QWidget* widget() override { return this; }
    void present(VideoFrame frame) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    bool m_unshown = false;
};
