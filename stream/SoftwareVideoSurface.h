#pragma once

#include "stream/ImageConverter.h"
#include "stream/VideoSurface.h"

#include <QWidget>

// The QPainter surface: libswscale converts each picture into a buffer kept across pictures, at
// the next paint (pictures that come faster than the screen repaints are never converted), and
// the painter scales it into place. Only the picture's rectangle is repainted for a new picture;
// the black bars only when the whole surface is.
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
