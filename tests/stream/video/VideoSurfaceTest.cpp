// Which surface draws the video: the rule, with the OpenGL renderer string given by the test.
#include "stream/VideoSurface.h"

#include "core/VantleLog.h"

#include <QFile>
#include <QGuiApplication>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Kind = VideoSurface::Kind;

struct Case {
    const char* override;
    const char* platform;
    std::optional<const char*> renderer;
    Kind expected;
    const char* reason;
};

TEST(VideoSurfaceChoice, SoftwareRasterisersGetTheSoftwareSurfaceAndGPUsKeepOpenGL) {
    const Case cases[] = {
        {"", "xcb", "llvmpipe (LLVM 15.0.6, 256 bits)", Kind::software,
         "renderer=\"llvmpipe (LLVM 15.0.6, 256 bits)\" is a software rasteriser"},
        {"", "wayland", "Software Rasterizer", Kind::software, nullptr},
        {"", "xcb", "ANGLE (Google, Vulkan 1.3.0 (SwiftShader Device (Subzero)), SwiftShader driver)",
         Kind::software, nullptr},
        {"", "xcb", "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", Kind::openGL,
         "renderer=\"Mesa Intel(R) UHD Graphics 620 (KBL GT2)\" is a GPU"},
        {"", "wayland", "virgl (AMD Radeon Graphics)", Kind::openGL, nullptr},
        // The variable wins either way; without a usable platform or context there is no choice.
        {"software", "xcb", "NVIDIA GeForce RTX 3060/PCIe/SSE2", Kind::software,
         "VANTLE_VIDEO_SURFACE=software"},
        {"opengl", "xcb", "llvmpipe (LLVM 15.0.6, 256 bits)", Kind::openGL, nullptr},
        {"opengl", "offscreen", std::nullopt, Kind::software, "platform=offscreen has no OpenGL windows"},
        {"", "minimal", std::nullopt, Kind::software, nullptr},
        {"opengl", "xcb", std::nullopt, Kind::software, "no OpenGL context"},
    };
    for (const Case& c : cases) {
        const std::optional<QString> renderer =
            c.renderer ? std::optional(QString::fromLatin1(*c.renderer)) : std::nullopt;
        const auto choice =
            VideoSurface::choose(QString::fromLatin1(c.override), QString::fromLatin1(c.platform), renderer);
        EXPECT_EQ(choice.kind, c.expected)
            << c.override << " " << c.platform << " " << c.renderer.value_or("-");
        if (c.reason) {
            EXPECT_EQ(choice.reason, QString::fromUtf8(c.reason));
        }
    }
}

// The choice for this run is made once and written to the main log once, with its reason.
TEST(VideoSurfaceChoice, IsMadeAndLoggedOncePerRun) {
    (void)VideoSurface::preferredKind();
    (void)VideoSurface::preferredKind();
    QFile file(VantleLog::main().path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    const QString log = QString::fromUtf8(file.readAll());
    EXPECT_EQ(log.count(u"video surface="_s), 1) << log.toStdString();
    if (QGuiApplication::platformName() == u"offscreen"_s) {
        EXPECT_TRUE(log.contains(u"reason=platform=offscreen has no OpenGL windows"_s));
    }
}

} // namespace
