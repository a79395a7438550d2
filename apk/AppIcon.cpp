#include "apk/AppIcon.h"

#include "core/SettingsKeys.h"

#include <QPainterPath>
#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

const std::array<AppIcon::Palette, 7> AppIcon::palettes = {{
    {QColor::fromRgbF(0.20f, 0.60f, 0.98f), QColor::fromRgbF(0.36f, 0.36f, 0.95f)},
    {QColor::fromRgbF(0.13f, 0.77f, 0.53f), QColor::fromRgbF(0.05f, 0.55f, 0.62f)},
    {QColor::fromRgbF(1.00f, 0.58f, 0.20f), QColor::fromRgbF(0.96f, 0.30f, 0.36f)},
    {QColor::fromRgbF(0.75f, 0.35f, 0.95f), QColor::fromRgbF(0.45f, 0.25f, 0.85f)},
    {QColor::fromRgbF(0.98f, 0.36f, 0.56f), QColor::fromRgbF(0.85f, 0.20f, 0.45f)},
    {QColor::fromRgbF(0.25f, 0.78f, 0.90f), QColor::fromRgbF(0.15f, 0.48f, 0.85f)},
    {QColor::fromRgbF(0.98f, 0.78f, 0.20f), QColor::fromRgbF(0.95f, 0.52f, 0.12f)},
}};

AppIcon AppIcon::forApp(const QString& name, double size, std::optional<QImage> image) {
    return AppIcon{name, size, std::move(image), VantleSettings::get(SettingsKeys::theme)};
}

QString AppIcon::monogram(const QString& name) {
    static const QRegularExpression separators(u"[ \\-_]"_s);
    const QStringList words = name.split(separators, Qt::SkipEmptyParts);
    QString letters;
    for (const QString& word : words.first(std::min<qsizetype>(words.size(), 2))) {
        // The first character, whole even when it is outside the basic plane.
        const qsizetype length = word.at(0).isHighSurrogate() && word.size() > 1 ? 2 : 1;
        letters += word.first(length).toUpper();
    }
    return letters.isEmpty() ? u"?"_s : letters;
}

double AppIcon::radius(double size) const {
    return radius(size, style);
}

double AppIcon::radius(double size, const QString& style) {
    if (style == u"oneui"_s) return 0.32 * size;
    if (style == u"pixel"_s) return 0.5 * size;
    if (style == u"ios"_s) return 0.225 * size;
    return 0.235 * size;
}

qsizetype AppIcon::paletteIndex(const QString& name) {
    quint32 hash = 7;
    for (const char32_t scalar : name.toUcs4())
        hash = hash * 31 + scalar;
    return hash % palettes.size();
}

double AppIcon::monogramFontSize(const QString& monogram, double size) {
    return (monogram.toUcs4().size() == 1 ? 0.46 : 0.36) * size;
}

void AppIcon::paint(QPainter& painter, QPointF origin) const {
    const QRectF tile(origin, QSizeF(size, size));
    QPainterPath rounded;
    rounded.addRoundedRect(tile, radius(size), radius(size));
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                           QPainter::TextAntialiasing);

    if (image && !image->isNull()) {
        painter.setClipPath(rounded);
        painter.drawImage(tile, *image);
        painter.restore();
        return;
    }

    // Drop shadow: black at 15 %, offset down by 3 % of the side and softened over 6 % of it,
    // approximated by a few widening translucent outlines.
    const double blur = 0.06 * size;
    constexpr int rings = 6;
    painter.setPen(Qt::NoPen);
    for (int ring = rings; ring >= 1; --ring) {
        const double grow = blur * ring / rings;
        const QRectF shadow = tile.translated(0, 0.03 * size).adjusted(-grow, -grow, grow, grow);
        painter.setBrush(QColor(0, 0, 0, qRound(255 * 0.15 / rings)));
        painter.drawRoundedRect(shadow, radius(size) + grow, radius(size) + grow);
    }

    const Palette& palette = palettes[paletteIndex(name)];
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, palette.first);
    fill.setColorAt(1, palette.second);
    painter.fillPath(rounded, fill);

    const QString letters = monogram(name);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::max(1, qRound(monogramFontSize(letters, size))));
    painter.setFont(font);
    painter.setPen(QColor(0, 0, 0, qRound(255 * 0.18)));
    painter.drawText(tile.translated(0, 0.01 * size), Qt::AlignCenter, letters);
    painter.setPen(Qt::white);
    painter.drawText(tile, Qt::AlignCenter, letters);

    painter.setPen(QPen(QColor(255, 255, 255, 64), 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(tile.adjusted(0.25, 0.25, -0.25, -0.25), radius(size) - 0.25,
                            radius(size) - 0.25);
    painter.restore();
}

QImage AppIcon::rendered(qreal devicePixelRatio) const {
    const int side = std::max(1, qCeil(size * devicePixelRatio));
    QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(devicePixelRatio);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    paint(painter);
    painter.end();
    return canvas;
}
