#pragma once

#include "apk/APKIconExtractor.h"

#include <QGradient>
#include <QPainter>
#include <memory>
#include <variant>
#include <vector>

// Rasterises Android drawables compiled to binary XML onto the 192 x 192 icon canvas: "vector"
// (groups with transforms, clip paths, filled and stroked paths with solid colours, gradients and
// colour selectors), "inset", "color" and "shape". The vector's viewport is mapped onto the whole
// canvas (its "width" and "height" are not used). Safe from any thread; never throws.
namespace IconVector {

// One start element and the elements nested in it.
struct Node {
    QString name;
    QMap<QString, APKIconExtractor::Attr> attrs;
    std::vector<std::unique_ptr<Node>> children;

    const APKIconExtractor::Attr* attr(const QString& attrName) const;
};

// Elements nested deeper than this are dropped, so drawing recursion and the tree's own
// destruction stay shallow on hostile files.
inline constexpr int maxNesting = 64;

// A solid colour, or a gradient already placed in the drawable's coordinates.
using Paint = std::variant<QColor, std::shared_ptr<QGradient>>;

// The document's first top-level element with everything nested in it; null for none.
std::unique_ptr<Node> tree(const QByteArray& bytes);

// A numeric attribute: float (0x04), dimension (0x05) or fraction (0x06) as Android's complex
// value (unit bits ignored), or a decimal or hexadecimal integer. None for other types and
// for values that are not finite.
std::optional<double> number(const APKIconExtractor::Attr* attr);

// The drawable as an image; none for an unknown root or when nothing was drawn.
std::optional<QImage> render(const QByteArray& bytes, APKIconExtractor::IconSource& source, int depth);
std::optional<QImage> drawVector(const Node& root, APKIconExtractor::IconSource& source);
std::optional<QImage> drawInset(const Node& root, APKIconExtractor::IconSource& source, int depth);

// What a colour attribute paints with: a colour value, or a reference to a colour, a gradient
// file or a colour selector (its first item). `depth` bounds chains of selectors.
std::optional<Paint> paint(const APKIconExtractor::Attr* attr, APKIconExtractor::IconSource& source,
                           int depth = 0);
std::optional<Paint> gradient(const Node& node, APKIconExtractor::IconSource& source, int depth = 0);

// Draws `children` with the painter's current transform and clip; sets `drew` once a path was
// filled or stroked.
void draw(const std::vector<std::unique_ptr<Node>>& children, QPainter& painter,
          APKIconExtractor::IconSource& source, bool& drew);

} // namespace IconVector
