#include "sim/screen/ScreenPainter.h"

#include "sim/screen/BitmapFont.h"

#include <QDateTime>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace ScreenPainter {

uint32_t backgroundFor(const QString& package, bool night) {
    if (package.isEmpty()) return night ? 0xff202833 : 0xff3a6ea5;
    const size_t hash = qHash(package, 0x5eed);
    // Mid-range channels keep the dark touch marks and the white text readable on every colour.
    const uint32_t r = 90 + uint32_t(hash & 0x7f), g = 90 + uint32_t((hash >> 8) & 0x7f),
                   b = 90 + uint32_t((hash >> 16) & 0x7f);
    const uint32_t scale = night ? 2 : 1;
    return 0xff000000 | ((r / scale) << 16) | ((g / scale) << 8) | (b / scale);
}

int touchMarkRadius(const ScreenImage& image) {
    return std::max(4, std::min(image.width, image.height) / 40);
}

void fillRect(ScreenImage& image, int x, int y, int w, int h, uint32_t color) {
    const int x0 = std::clamp(x, 0, image.width), x1 = std::clamp(x + w, 0, image.width);
    const int y0 = std::clamp(y, 0, image.height), y1 = std::clamp(y + h, 0, image.height);
    for (int row = y0; row < y1; ++row) {
        uint32_t* line = image.pixels.data() + size_t(row) * size_t(image.width);
        std::fill(line + x0, line + x1, color);
    }
}

void drawText(ScreenImage& image, int x, int y, const QString& text, int scale, uint32_t color) {
    int penX = x;
    for (const char32_t character : text.toUcs4()) {
        const uint8_t* columns = BitmapFont::glyph(character);
        for (int column = 0; column < BitmapFont::glyphWidth; ++column)
            for (int row = 0; row < BitmapFont::glyphHeight; ++row)
                if (columns[column] & (1u << row))
                    fillRect(image, penX + column * scale, y + row * scale, scale, scale, color);
        penX += BitmapFont::advance * scale;
        if (penX >= image.width) break;
    }
}

void paint(ScreenImage& image, const ScreenState& state) {
    const uint32_t white = 0xffffffff, bar = 0xff000000 | (state.night ? 0x101010 : 0x202020);
    std::fill(image.pixels.begin(), image.pixels.end(), backgroundFor(state.package, state.night));
    // Text scale: about 30 characters across the screen, at least 1.
    const int scale = std::max(1, image.width / (30 * BitmapFont::advance));
    const int small = std::max(1, scale / 2);
    const int line = (BitmapFont::glyphHeight + 3) * scale;

    // Status bar with the clock.
    const int barHeight = line + 2 * scale;
    fillRect(image, 0, 0, image.width, barHeight, bar);
    const QString clock = QDateTime::fromMSecsSinceEpoch(state.clockMs).toString(u"HH:mm:ss"_s);
    drawText(image, scale * 2, scale * 2, clock, scale, white);

    int y = barHeight + line;
    const int x = scale * 3;
    if (state.package.isEmpty()) {
        drawText(image, x, y, u"Launcher"_s, scale * 2, white);
    } else {
        drawText(image, x, y, state.label.isEmpty() ? state.package : state.label, scale * 2, white);
        y += 2 * line;
        drawText(image, x, y, state.package, small, white);
    }
    y += 2 * line;
    drawText(image, x, y, u"frame %1"_s.arg(state.frame), scale, white);
    y += line;
    if (!state.typed.isEmpty()) {
        drawText(image, x, y, u"typed: "_s + state.typed.right(40), small, white);
        y += line;
    }
    if (!state.statusLine.isEmpty()) drawText(image, x, y, state.statusLine.left(60), small, white);

    const int radius = touchMarkRadius(image);
    for (const QPoint& touch : state.touches)
        fillRect(image, touch.x() - radius, touch.y() - radius, 2 * radius + 1, 2 * radius + 1,
                 touchMarkColor);
}

} // namespace ScreenPainter
