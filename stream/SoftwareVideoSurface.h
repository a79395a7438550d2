#pragma once

#include "stream/ImageConverter.h"
#include "stream/VideoSurface.h"

#include <QWidget>

// The QPainter surface: libswscale converts each picture straight to the size it has on screen
// (device pixels), into a buffer kept across pictures, and painting copies it unscaled. Only the
// picture's rectangle is repainted for a new picture; the black bars are painted on resize.
class SoftwareVideoSurface final : public QWidget, public VideoSurface {
public:
    explicit SoftwareVideoSurface(QWidget* parent);
    QWidget* widget() override { return this; }
    void present(VideoFrame frame) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect pictureRect() const; // in the widget's coordinates, whole pixels

    VideoFrame m_frame; // the newest picture, converted at the next paint
    ImageConverter m_converter;
    bool m_unshown = false;
};
