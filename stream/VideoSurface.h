#pragma once

#include "stream/FrameRenderer.h"

#include <QRectF>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

// What draws decoded pictures inside a video view: an OpenGL widget that converts the YUV planes
// with a shader, or a QPainter widget that converts with libswscale. Either fills its bounds with
// black and shows the picture aspect-fit in the middle. GUI thread only.
class VideoSurface {
public:
    virtual ~VideoSurface() = default;
    virtual QWidget* widget() = 0;
    // Shows `frame` at the next repaint; `onShown` follows once it is on screen.
    virtual void present(VideoFrame frame) = 0;
    std::function<void()> onShown;

    enum class Kind { openGL, software };
    struct Choice {
        Kind kind;
        QString reason; // for the log: "renderer=… is a software rasteriser" and the like
    };
    // The rule: VANTLE_VIDEO_SURFACE ("opengl" or "software") wins; platforms without windows
    // and machines without an OpenGL context get the software surface, and so does an OpenGL that
    // is itself a software rasteriser, where the shader, the window's composition and the buffer
    // swap all run on the CPU and cost far more than libswscale. A GPU keeps OpenGL.
    static Choice choose(const QString& override, const QString& platform,
                         const std::optional<QString>& renderer);
    // Mesa's llvmpipe, softpipe and swrast, SwiftShader, Apple's and Microsoft's software renderers.
    static bool isSoftwareRasterizer(const QString& renderer);
    // The OpenGL renderer string as vantle-gl-probe sees it, in a process of its own (the driver stays out
    // of this one); in this process when the probe is not there. Nothing after `probeTimeoutMs`.
    static std::optional<QString> probeOpenGLRenderer();
    static constexpr int probeTimeoutMs = 5000;
    // `choose` for this machine, worked out once per process (written to the main log then).
    static Kind preferredKind();
    static std::unique_ptr<VideoSurface> create(Kind kind, QWidget* parent);
};

// The largest rectangle of the video's aspect ratio centred in `bounds` (letterboxing).
QRectF aspectFitRect(QSizeF bounds, QSize video);
