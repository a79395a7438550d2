#pragma once

#include "stream/FrameRenderer.h"

#include <QRectF>
#include <QSize>
#include <functional>
#include <memory>

class QWidget;

// What draws decoded pictures inside a video view: an OpenGL widget that converts the YUV planes
// with a shader, or a QPainter widget for platforms without OpenGL. Either fills its bounds with
// black and shows the picture aspect-fit in the middle. GUI thread only.
class VideoSurface {
public:
    virtual ~VideoSurface() = default;
    virtual QWidget* widget() = 0;
    // Shows `frame` at the next repaint; `onShown` follows once it is on screen.
    virtual void present(VideoFrame frame) = 0;
    std::function<void()> onShown;

    enum class Kind { openGL, software };
    // OpenGL unless the platform cannot make a context (or VANTLE_VIDEO_SURFACE=software).
    static Kind preferredKind();
    static std::unique_ptr<VideoSurface> create(Kind kind, QWidget* parent);
};

// The largest rectangle of the video's aspect ratio centred in `bounds` (letterboxing).
QRectF aspectFitRect(QSizeF bounds, QSize video);
