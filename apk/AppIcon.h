#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <array>
#include <optional>

// One app's tile: its icon clipped to a rounded square, or, until an icon exists, a monogram (the
// initials on a two-colour gradient chosen from the name). The corner rounding follows the
// home-screen style ("VantleTheme"). Drawing needs a GUI application (fonts); main thread.
struct AppIcon {
    QString name;     // the app's display name
    double size = 64; // the tile's side
    std::optional<QImage> image;
    QString style; // "oneui", "pixel", "ios", "classic" (anything else draws as "classic")

    // An icon for `name` in the style of the settings.
    static AppIcon forApp(const QString& name, double size, std::optional<QImage> image);

    // Initials of the first two words (split at " ", "-" and "_"), upper case; "?" for none.
    static QString monogram(const QString& name);
    // The corner radius of a tile of `size` in this icon's style.
    double radius(double size) const;
    static double radius(double size, const QString& style);

    struct Palette {
        QColor first, second;
    };
    static const std::array<Palette, 7> palettes;
    // The same name always gives the same palette: a 32-bit rolling hash of its code points.
    static qsizetype paletteIndex(const QString& name);
    // The monogram's font size: larger for one character than for two.
    static double monogramFontSize(const QString& monogram, double size);

    // Draws the tile with its top-left corner at `origin`. The drop shadow of a monogram tile
    // extends a little below and around the tile.
    void paint(QPainter& painter, QPointF origin = {}) const;
    // The tile alone on a transparent image of side `size` x `devicePixelRatio`.
    QImage rendered(qreal devicePixelRatio = 1) const;
};
