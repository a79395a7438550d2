#pragma once

#include <QList>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <vector>

// What the simulated device shows: the resumed app's synthetic screen (its package and label, a
// frame counter and clock, a mark at every touch it received, the text typed into it), or the
// launcher. Drawing is plain pixel work into a 32-bit image (0xffRRGGBB words), which the display
// server encodes and screencap writes as PNG.
struct ScreenState {
    QString package; // empty: the launcher is resumed
    QString label;
    quint64 frame = 0;
    qint64 clockMs = 0;    // milliseconds since the epoch, shown as the clock
    QList<QPoint> touches; // in screen pixels, oldest first
    QString typed;
    QString statusLine; // one extra line (the clipboard, the media session)
    bool night = false;
};

struct ScreenImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels; // row-major, width * height

    ScreenImage() = default;
    ScreenImage(int w, int h)
        : width(w)
        , height(h)
        , pixels(size_t(w) * size_t(h)) {}
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

namespace ScreenPainter {

inline constexpr uint32_t touchMarkColor = 0xff101010;
inline constexpr int maxTouches = 64;

// The background colour of an app's screen, derived from its package name (the launcher's for an
// empty name), so tests can tell which app a frame shows.
uint32_t backgroundFor(const QString& package, bool night);
int touchMarkRadius(const ScreenImage& image);

void paint(ScreenImage& image, const ScreenState& state);
void fillRect(ScreenImage& image, int x, int y, int w, int h, uint32_t color);
void drawText(ScreenImage& image, int x, int y, const QString& text, int scale, uint32_t color);

} // namespace ScreenPainter
