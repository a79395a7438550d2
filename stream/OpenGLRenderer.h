#pragma once

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QString>
#include <optional>

// The GL_RENDERER string of a context made current on an offscreen surface; nothing when the
// platform cannot make one. Loads the platform's OpenGL driver into the process for good.
inline std::optional<QString> openGLRenderer() {
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface)) return std::nullopt;
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    std::optional<QString> renderer;
    if (name) renderer = QString::fromUtf8(name);
    context.doneCurrent();
    return renderer;
}
