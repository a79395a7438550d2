// vantle-gl-probe: prints the GL_RENDERER string of an OpenGL context on the current display and
// exits 0; exits 1 when no context can be made. Vantle asks it, in a process of its own, which
// OpenGL the machine has, so that a software rasteriser's libraries (LLVM: some 50 MB resident)
// are never loaded into Vantle when it will not draw with them.
#include "stream/OpenGLRenderer.h"

#include <QGuiApplication>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv) {
#if defined(__SANITIZE_ADDRESS__)
    // This program exists to load the display's OpenGL driver, whose allocations outlive the
    // driver's own unloaded code at exit, where no suppression can name them: the leak check has
    // nothing of Vantle's to find here.
    __lsan_disable();
#endif
    QGuiApplication application(argc, argv);
    const std::optional<QString> renderer = openGLRenderer();
    if (!renderer) return 1;
    std::puts(renderer->toUtf8().constData());
    return 0;
}
