#include "stream/VideoSurface.h"

#include "core/VantleLog.h"
#include "platform/ChildProcess.h"
#include "stream/GLVideoSurface.h"
#include "stream/OpenGLRenderer.h"
#include "stream/SoftwareVideoSurface.h"

#include <QFileInfo>
#include <QGuiApplication>

using namespace Qt::StringLiterals;

bool VideoSurface::isSoftwareRasterizer(const QString& renderer) {
    static const QLatin1StringView names[] = {
        "llvmpipe"_L1,    "softpipe"_L1,          "software rasterizer"_L1,
        "swiftshader"_L1, "software renderer"_L1, "basic render driver"_L1};
    for (const QLatin1StringView name : names)
        if (renderer.contains(name, Qt::CaseInsensitive)) return true;
    return false;
}

VideoSurface::Choice VideoSurface::choose(const QString& override, const QString& platform,
                                          const std::optional<QString>& renderer) {
    if (override == "software"_L1) return {Kind::software, u"VANTLE_VIDEO_SURFACE=software"_s};
    if (platform == "offscreen"_L1 || platform == "minimal"_L1)
        return {Kind::software, u"platform="_s + platform + u" has no OpenGL windows"_s};
    if (!renderer) return {Kind::software, u"no OpenGL context"_s};
    const QString quoted = u"renderer=\""_s + *renderer + u'"';
    if (override == "opengl"_L1) return {Kind::openGL, u"VANTLE_VIDEO_SURFACE=opengl "_s + quoted};
    if (isSoftwareRasterizer(*renderer)) return {Kind::software, quoted + u" is a software rasteriser"_s};
    return {Kind::openGL, quoted + u" is a GPU"_s};
}

std::optional<QString> VideoSurface::probeOpenGLRenderer() {
    // Installed under libexec beside bin; in the build tree where the build put it.
    QString probe = QCoreApplication::applicationDirPath() + u"/../libexec/vantle/vantle-gl-probe"_s;
    if (!QFileInfo(probe).isExecutable()) probe = QStringLiteral(VANTLE_GL_PROBE);
    if (!QFileInfo(probe).isExecutable()) return openGLRenderer();
    ChildProcess process;
    process.program = probe;
    process.timeoutMs = probeTimeoutMs;
    const ChildProcess::Result result = process.run();
    const QString renderer = QString::fromUtf8(result.standardOutput).trimmed();
    if (result.exitCode != 0 || renderer.isEmpty()) return std::nullopt;
    return renderer;
}

VideoSurface::Kind VideoSurface::preferredKind() {
    static const Kind kind = [] {
        const QString override = qEnvironmentVariable("VANTLE_VIDEO_SURFACE");
        const QString platform = QGuiApplication::platformName();
        // No probe when the answer does not depend on it.
        const bool needsRenderer =
            override != "software"_L1 && platform != "offscreen"_L1 && platform != "minimal"_L1;
        const Choice choice =
            choose(override, platform, needsRenderer ? probeOpenGLRenderer() : std::nullopt);
        VantleLog::main().write(u"video surface="_s +
                                (choice.kind == Kind::openGL ? u"opengl"_s : u"software"_s) + u" reason="_s +
                                choice.reason);
        return choice.kind;
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
