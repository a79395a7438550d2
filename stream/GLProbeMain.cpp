// vantle-gl-probe: prints the GL_RENDERER string of an OpenGL context on the current display and
// exits 0; exits 1 when no context can be made. Vantle asks it, in a process of its own, which
// OpenGL the machine has, so that a software rasteriser's libraries (LLVM: some 50 MB resident)
// are never loaded into Vantle when it will not draw with them.
#include "stream/OpenGLRenderer.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const std::optional<QString> renderer = openGLRenderer();
    if (!renderer) return 1;
    std::puts(renderer->toUtf8().constData());
    return 0;
}
