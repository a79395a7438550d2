#include "apk/IconVector.h"

#include "apk/PathData.h"

#include <QPainterPath>
#include <bit>
#include <cmath>

using namespace Qt::Literals::StringLiterals;
using namespace APKIconExtractor;

namespace IconVector {

namespace {

// Android's complex values: a signed 24-bit mantissa in the top bits, its radix in bits 4-5.
double complexValue(quint32 data) {
    static constexpr double radixFactor[4] = {1.0 / (1 << 8), 1.0 / (1 << 15), 1.0 / (1 << 23),
                                              1.0 / (1u << 31)};
    return static_cast<qint32>(data & 0xFFFFFF00u) * radixFactor[(data >> 4) & 0x3];
}

double numberOr(const Node& node, const QString& name, double fallback) {
    return number(node.attr(name)).value_or(fallback);
}

std::optional<QColor> colorOf(const std::optional<Paint>& paint) {
    if (!paint) return std::nullopt;
    if (const QColor* color = std::get_if<QColor>(&*paint)) return *color;
    return std::nullopt;
}

std::optional<QPainterPath> pathOf(const Node& node) {
    const Attr* data = node.attr(u"pathData"_s);
    if (!data || !data->string) return std::nullopt;
    return PathData::parse(*data->string);
}

void drawGroup(const Node& group, QPainter& painter, IconSource& source, bool& drew) {
    const double pivotX = numberOr(group, u"pivotX"_s, 0), pivotY = numberOr(group, u"pivotY"_s, 0);
    painter.save();
    painter.translate(pivotX + numberOr(group, u"translateX"_s, 0),
                      pivotY + numberOr(group, u"translateY"_s, 0));
    painter.rotate(numberOr(group, u"rotation"_s, 0));
    painter.scale(numberOr(group, u"scaleX"_s, 1), numberOr(group, u"scaleY"_s, 1));
    painter.translate(-pivotX, -pivotY);
    draw(group.children, painter, source, drew);
    painter.restore();
}

void drawPath(const Node& node, QPainter& painter, IconSource& source, bool& drew) {
    std::optional<QPainterPath> path = pathOf(node);
    if (!path) return;
    const Attr* fillType = node.attr(u"fillType"_s);
    path->setFillRule(fillType && fillType->data == 1 ? Qt::OddEvenFill : Qt::WindingFill);

    if (const std::optional<Paint> fill = paint(node.attr(u"fillColor"_s), source)) {
        painter.save();
        painter.setOpacity(numberOr(node, u"fillAlpha"_s, 1));
        if (const QColor* color = std::get_if<QColor>(&*fill))
            painter.fillPath(*path, *color);
        else
            painter.fillPath(*path, QBrush(*std::get<std::shared_ptr<QGradient>>(*fill)));
        painter.restore();
        drew = true;
    }

    const std::optional<QColor> stroke = colorOf(paint(node.attr(u"strokeColor"_s), source));
    const double width = numberOr(node, u"strokeWidth"_s, 0);
    if (!stroke || !(width > 0)) return; // gradient strokes are not drawn
    static constexpr Qt::PenCapStyle caps[3] = {Qt::FlatCap, Qt::RoundCap, Qt::SquareCap};
    static constexpr Qt::PenJoinStyle joins[3] = {Qt::MiterJoin, Qt::RoundJoin, Qt::BevelJoin};
    const Attr* cap = node.attr(u"strokeLineCap"_s);
    const Attr* join = node.attr(u"strokeLineJoin"_s);
    QPen pen(*stroke, width, Qt::SolidLine, caps[cap ? cap->data % 3 : 0], joins[join ? join->data % 3 : 0]);
    pen.setMiterLimit(4); // Android's default strokeMiterLimit
    painter.save();
    painter.setOpacity(numberOr(node, u"strokeAlpha"_s, 1));
    painter.strokePath(*path, pen);
    painter.restore();
    drew = true;
}

// A colour or gradient that fills the whole canvas, for "color" and "shape" roots.
std::optional<QImage> drawFlat(const Node& root, IconSource& source) {
    const Node* holder = &root;
    if (root.name == u"shape"_s) {
        holder = nullptr;
        for (const auto& child : root.children)
            if (child->name == u"solid"_s) {
                holder = child.get();
                break;
            }
        if (!holder) return std::nullopt;
    }
    const std::optional<QColor> color = colorOf(paint(holder->attr(u"color"_s), source));
    if (!color) return std::nullopt;
    QImage canvas = blankCanvas();
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    const Attr* shape = root.attr(u"shape"_s);
    if (root.name == u"shape"_s && shape && shape->data == 1) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(*color);
        painter.drawEllipse(QRectF(0, 0, canvasSide, canvasSide));
    } else {
        painter.fillRect(canvas.rect(), *color);
    }
    painter.end();
    return canvas;
}

// One side of an inset as a share of the canvas.
double insetShare(const Node& root, const QString& side) {
    const Attr* attr = root.attr(side);
    if (!attr) attr = root.attr(u"inset"_s);
    if (!attr) return 0;
    const double value = number(attr).value_or(0);
    return attr->type == fractionType ? value : value / 108;
}

} // namespace

const Attr* Node::attr(const QString& attrName) const {
    const auto found = attrs.constFind(attrName);
    return found == attrs.cend() ? nullptr : &*found;
}

std::unique_ptr<Node> tree(const QByteArray& bytes) {
    std::unique_ptr<Node> root;
    // Open elements; a null entry stands for one too deep (or after the root) being skipped.
    std::vector<Node*> open;
    BinaryXmlReader reader(bytes);
    for (BinaryXmlReader::Token token; (token = reader.next()) != BinaryXmlReader::Token::end;) {
        if (token == BinaryXmlReader::Token::endElement) {
            if (!open.empty()) open.pop_back();
            continue;
        }
        Node* parent = open.empty() ? nullptr : open.back();
        const bool attach = open.empty() ? !root : parent && open.size() < maxNesting;
        if (!attach) {
            open.push_back(nullptr);
            continue;
        }
        auto node = std::make_unique<Node>();
        const Element element = reader.element();
        node->name = element.name;
        node->attrs = element.attrs;
        Node* raw = node.get();
        if (parent)
            parent->children.push_back(std::move(node));
        else
            root = std::move(node);
        open.push_back(raw);
    }
    return root;
}

std::optional<double> number(const Attr* attr) {
    if (!attr) return std::nullopt;
    double value;
    switch (attr->type) {
    case floatType:
        value = std::bit_cast<float>(attr->data);
        break;
    case dimensionType:
    case fractionType:
        value = complexValue(attr->data);
        break;
    case decimalType:
    case hexadecimalType:
        value = static_cast<qint32>(attr->data);
        break;
    default:
        return std::nullopt;
    }
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<QImage> render(const QByteArray& bytes, IconSource& source, int depth) {
    const std::unique_ptr<Node> root = tree(bytes);
    if (!root) return std::nullopt;
    if (root->name == u"vector"_s) return drawVector(*root, source);
    if (root->name == u"inset"_s) return drawInset(*root, source, depth);
    if (root->name == u"color"_s || root->name == u"shape"_s) return drawFlat(*root, source);
    return std::nullopt;
}

std::optional<QImage> drawVector(const Node& root, IconSource& source) {
    const double width = numberOr(root, u"viewportWidth"_s, 108);
    const double height = numberOr(root, u"viewportHeight"_s, 108);
    if (!(width > 0) || !(height > 0)) return std::nullopt;
    QImage canvas = blankCanvas();
    QPainter painter(&canvas);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.scale(canvasSide / width, canvasSide / height);
    bool drew = false;
    draw(root.children, painter, source, drew);
    painter.end();
    if (!drew) return std::nullopt;
    return canvas;
}

std::optional<QImage> drawInset(const Node& root, IconSource& source, int depth) {
    const Attr* drawable = root.attr(u"drawable"_s);
    if (!drawable || drawable->type != referenceType) return std::nullopt;
    const std::optional<QImage> image = APKIconExtractor::render(drawable->data, source, depth + 1);
    if (!image) return std::nullopt;
    const double left = insetShare(root, u"insetLeft"_s), right = insetShare(root, u"insetRight"_s);
    const double top = insetShare(root, u"insetTop"_s), bottom = insetShare(root, u"insetBottom"_s);
    QImage canvas = blankCanvas();
    QPainter painter(&canvas);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(left * canvasSide, top * canvasSide),
                             QPointF(canvasSide - right * canvasSide, canvasSide - bottom * canvasSide)),
                      *image);
    painter.end();
    return canvas;
}

std::optional<Paint> paint(const Attr* attr, IconSource& source, int depth) {
    if (!attr) return std::nullopt;
    if (isColorType(attr->type)) return colorFromARGB(attr->data);
    if (attr->type != referenceType || depth > IconSource::maxDepth) return std::nullopt;
    const QList<Entry> values = source.entries(attr->data);
    for (const Entry& entry : values)
        if (isColorType(entry.type)) return colorFromARGB(entry.data);
    for (const Entry& entry : values) {
        if (!entry.file || !entry.file->endsWith(u".xml"_s)) continue;
        const std::optional<QByteArray> bytes = source.read(*entry.file);
        if (!bytes) continue;
        const std::unique_ptr<Node> root = tree(*bytes);
        if (!root) continue;
        std::optional<Paint> found;
        if (root->name == u"gradient"_s)
            found = gradient(*root, source, depth + 1);
        else if (root->name == u"selector"_s && !root->children.empty())
            found = paint(root->children.front()->attr(u"color"_s), source, depth + 1);
        if (found) return found;
    }
    return std::nullopt;
}

std::optional<Paint> gradient(const Node& node, IconSource& source, int depth) {
    QGradientStops stops;
    for (const auto& child : node.children) {
        if (child->name != u"item"_s) continue;
        if (const std::optional<QColor> color = colorOf(paint(child->attr(u"color"_s), source, depth)))
            stops.append({numberOr(*child, u"offset"_s, 0), *color});
    }
    if (stops.isEmpty()) {
        const std::pair<QString, double> named[] = {
            {u"startColor"_s, 0}, {u"centerColor"_s, 0.5}, {u"endColor"_s, 1}};
        for (const auto& [name, position] : named)
            if (const std::optional<QColor> color = colorOf(paint(node.attr(name), source, depth)))
                stops.append({position, *color});
    }
    if (stops.isEmpty()) return std::nullopt;
    if (stops.size() == 1) return stops.first().second;

    std::shared_ptr<QGradient> built;
    const Attr* type = node.attr(u"type"_s);
    if (type && type->data == 1) {
        built = std::make_shared<QRadialGradient>(
            QPointF(numberOr(node, u"centerX"_s, 0), numberOr(node, u"centerY"_s, 0)),
            numberOr(node, u"gradientRadius"_s, 1));
    } else {
        built = std::make_shared<QLinearGradient>(
            QPointF(numberOr(node, u"startX"_s, 0), numberOr(node, u"startY"_s, 0)),
            QPointF(numberOr(node, u"endX"_s, 0), numberOr(node, u"endY"_s, 0)));
    }
    // Positions outside 0...1 are pinned to the ends, which is where they would draw anyway.
    for (const auto& [position, color] : stops)
        built->setColorAt(std::clamp(position, 0.0, 1.0), color);
    built->setSpread(QGradient::PadSpread);
    return built;
}

void draw(const std::vector<std::unique_ptr<Node>>& children, QPainter& painter, IconSource& source,
          bool& drew) {
    for (const auto& child : children) {
        if (child->name == u"group"_s) {
            drawGroup(*child, painter, source, drew);
        } else if (child->name == u"clip-path"_s) {
            if (std::optional<QPainterPath> clip = pathOf(*child)) {
                clip->setFillRule(Qt::WindingFill);
                painter.setClipPath(*clip, Qt::IntersectClip);
            }
        } else if (child->name == u"path"_s) {
            drawPath(*child, painter, source, drew);
        }
    }
}

} // namespace IconVector
