#include "stream/VideoSurface.h"

#include "stream/GLVideoSurface.h"
#include "stream/SoftwareVideoSurface.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>

using namespace Qt::StringLiterals;

VideoSurface::Kind VideoSurface::preferredKind() {
    static const Kind kind = [] {
        if (qEnvironmentVariable("VANTLE_VIDEO_SURFACE") == "software"_L1) return Kind::software;
        const QString platform = QGuiApplication::platformName();
        if (platform == "offscreen"_L1 || platform == "minimal"_L1) return Kind::software;
        QOpenGLContext context;
        return context.create() ? Kind::openGL : Kind::software;
    }();
    return kind;
}

std::unique_ptr<VideoSurface> VideoSurface::create(Kind kind, QWidget* parent) {
    if (kind == Kind::openGL) return std::make_unique<GLVideoSurface>(parent);
    return std::make_unique<SoftwareVideoSurface>(parent);
}

QRectF aspectFitRect(QSizeF bounds, QSize video) {
    if (video.width() <= 0 || video.height() <= 0 || bounds.isEmpty()) return QRectF(QPointF(), bounds);
    const double scale = std::min(bounds.width() / video.width(), bounds.height() / video.height());
    const QSizeF fitted(video.width() * scale, video.height() * scale);
    return QRectF(QPointF((bounds.width() - fitted.width()) * 0.5, (bounds.height() - fitted.height()) * 0.5),
                  fitted);
}
