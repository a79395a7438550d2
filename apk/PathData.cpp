#include "apk/PathData.h"

#include <QList>
#include <cmath>
#include <numbers>
#include <variant>

namespace PathData {

namespace {

using Token = std::variant<QChar, double>; // a command letter or a number

bool isAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Splits into letters and numbers; nothing when a number does not parse.
std::optional<QList<Token>> tokenize(const QString& string) {
    QList<Token> tokens;
    QString number;
    bool ok = true;
    auto flush = [&] {
        if (number.isEmpty()) return;
        const double value = number.toDouble(&ok);
        if (!ok || !std::isfinite(value)) ok = false;
        tokens.append(value);
        number.clear();
    };
    QChar previous;
    for (const QChar c : string) {
        if (isAsciiLetter(c) && c != u'e' && c != u'E') {
            flush();
            tokens.append(c);
        } else if (c == u',' || c == u' ' || c == u'\n' || c == u'\t') {
            flush();
        } else if (c == u'-' && previous != u'e' && previous != u'E') {
            flush();
            number += c;
        } else if (c == u'.' && number.contains(u'.')) {
            flush();
            number += c;
        } else {
            number += c;
        }
        if (!ok) return std::nullopt;
        previous = c;
    }
    flush();
    if (!ok) return std::nullopt;
    return tokens;
}

int arity(char command) {
    switch (command) {
    case 'M':
    case 'L':
    case 'T':
        return 2;
    case 'H':
    case 'V':
        return 1;
    case 'C':
        return 6;
    case 'S':
    case 'Q':
        return 4;
    case 'A':
        return 7;
    default:
        return 0; // Z, and letters that are not commands
    }
}

// Builds the path; tracks the current point, the subpath start and the control points that
// S and T reflect.
class Builder {
public:
    void run(char command, bool relative, const double* a);
    void close();
    bool valid() const { return m_valid; }
    const QPainterPath& path() const { return m_path; }

private:
    QPointF point(bool relative, double x, double y) const {
        return relative ? m_current + QPointF(x, y) : QPointF(x, y);
    }
    bool finite(std::initializer_list<QPointF> points) {
        for (const QPointF& p : points)
            if (!std::isfinite(p.x()) || !std::isfinite(p.y())) m_valid = false;
        return m_valid;
    }
    void ensureStarted() {
        if (m_path.elementCount() == 0) m_path.moveTo(m_current);
    }
    void lineTo(QPointF to);
    void cubicTo(QPointF c1, QPointF c2, QPointF to);
    void quadTo(QPointF c, QPointF to);
    void arcTo(double rx, double ry, double rotation, bool largeArc, bool sweep, QPointF to);

    QPainterPath m_path;
    QPointF m_current, m_start;
    QPointF m_lastCubicControl, m_lastQuadControl;
    char m_previous = 0; // upper-case form of the last command run
    bool m_valid = true;
};

void Builder::lineTo(QPointF to) {
    if (!finite({to})) return;
    ensureStarted();
    m_path.lineTo(to);
    m_current = to;
}

void Builder::cubicTo(QPointF c1, QPointF c2, QPointF to) {
    if (!finite({c1, c2, to})) return;
    ensureStarted();
    m_path.cubicTo(c1, c2, to);
    m_lastCubicControl = c2;
    m_current = to;
}

void Builder::quadTo(QPointF c, QPointF to) {
    if (!finite({c, to})) return;
    ensureStarted();
    m_path.quadTo(c, to);
    m_lastQuadControl = c;
    m_current = to;
}

// The SVG endpoint-to-centre conversion (SVG 1.1, appendix F.6.5), then one cubic per quarter
// turn or part of one, with control points 4/3 tan(delta / 4) along the tangents.
void Builder::arcTo(double rx, double ry, double rotation, bool largeArc, bool sweep, QPointF to) {
    const QPointF from = m_current;
    if (from == to) return;                    // an arc to its own start point is omitted entirely
    if (rx == 0 || ry == 0) return lineTo(to); // and one without radius is a straight line
    rx = std::abs(rx);
    ry = std::abs(ry);
    const double phi = rotation * std::numbers::pi / 180;
    const double cosPhi = std::cos(phi), sinPhi = std::sin(phi);
    const double dx2 = (from.x() - to.x()) / 2, dy2 = (from.y() - to.y()) / 2;
    const double x1 = cosPhi * dx2 + sinPhi * dy2;
    const double y1 = -sinPhi * dx2 + cosPhi * dy2;
    const double check = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
    if (check > 1) {
        rx *= std::sqrt(check);
        ry *= std::sqrt(check);
    }
    const double numerator = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
    const double denominator = rx * rx * y1 * y1 + ry * ry * x1 * x1;
    double coefficient = denominator == 0 ? 0 : std::sqrt(std::max(0.0, numerator / denominator));
    if (largeArc == sweep) coefficient = -coefficient;
    const double cx1 = coefficient * rx * y1 / ry;
    const double cy1 = -coefficient * ry * x1 / rx;
    const double cx = cosPhi * cx1 - sinPhi * cy1 + (from.x() + to.x()) / 2;
    const double cy = sinPhi * cx1 + cosPhi * cy1 + (from.y() + to.y()) / 2;
    const double theta = std::atan2((y1 - cy1) / ry, (x1 - cx1) / rx);
    double delta = std::atan2((-y1 - cy1) / ry, (-x1 - cx1) / rx) - theta;
    if (!sweep && delta > 0) delta -= 2 * std::numbers::pi;
    if (sweep && delta < 0) delta += 2 * std::numbers::pi;
    if (!std::isfinite(delta) || !std::isfinite(cx) || !std::isfinite(cy)) return lineTo(to);

    const int segments = std::max(1, static_cast<int>(std::ceil(std::abs(delta) / (std::numbers::pi / 2))));
    const double step = delta / segments;
    const double handle = 4.0 / 3.0 * std::tan(step / 4);
    auto at = [&](double angle) {
        return QPointF(cx + rx * std::cos(angle) * cosPhi - ry * std::sin(angle) * sinPhi,
                       cy + rx * std::cos(angle) * sinPhi + ry * std::sin(angle) * cosPhi);
    };
    auto tangent = [&](double angle) {
        return QPointF(-rx * std::sin(angle) * cosPhi - ry * std::cos(angle) * sinPhi,
                       -rx * std::sin(angle) * sinPhi + ry * std::cos(angle) * cosPhi);
    };
    for (int i = 0; i < segments; ++i) {
        const double a1 = theta + i * step, a2 = a1 + step;
        const QPointF end = i + 1 == segments ? to : at(a2);
        cubicTo(at(a1) + handle * tangent(a1), at(a2) - handle * tangent(a2), end);
    }
}

void Builder::run(char command, bool relative, const double* a) {
    const bool afterCubic = m_previous == 'C' || m_previous == 'S';
    const bool afterQuad = m_previous == 'Q' || m_previous == 'T';
    switch (command) {
    case 'M': {
        const QPointF to = point(relative, a[0], a[1]);
        if (!finite({to})) return;
        m_path.moveTo(to);
        m_current = m_start = to;
        break;
    }
    case 'L': {
        const QPointF to = point(relative, a[0], a[1]);
        if (m_path.elementCount() == 0) {
            if (!finite({to})) return;
            m_path.moveTo(to);
            m_current = m_start = to;
        } else {
            lineTo(to);
        }
        break;
    }
    case 'H':
        lineTo(QPointF(relative ? m_current.x() + a[0] : a[0], m_current.y()));
        break;
    case 'V':
        lineTo(QPointF(m_current.x(), relative ? m_current.y() + a[0] : a[0]));
        break;
    case 'C':
        cubicTo(point(relative, a[0], a[1]), point(relative, a[2], a[3]), point(relative, a[4], a[5]));
        break;
    case 'S': {
        const QPointF first = afterCubic ? 2 * m_current - m_lastCubicControl : m_current;
        cubicTo(first, point(relative, a[0], a[1]), point(relative, a[2], a[3]));
        break;
    }
    case 'Q':
        quadTo(point(relative, a[0], a[1]), point(relative, a[2], a[3]));
        break;
    case 'T':
        quadTo(afterQuad ? 2 * m_current - m_lastQuadControl : m_current, point(relative, a[0], a[1]));
        break;
    case 'A':
        arcTo(a[0], a[1], a[2], a[3] != 0, a[4] != 0, point(relative, a[5], a[6]));
        break;
    default:
        return;
    }
    m_previous = command;
}

void Builder::close() {
    if (m_path.elementCount() > 0) m_path.closeSubpath();
    m_current = m_start;
    m_previous = 'Z';
}

} // namespace

std::optional<QPainterPath> parse(const QString& string) {
    const std::optional<QList<Token>> tokens = tokenize(string);
    if (!tokens) return std::nullopt;
    Builder builder;
    char command = 'M';
    bool relative = false;
    double arguments[7];
    int collected = 0;
    for (const Token& token : *tokens) {
        if (const QChar* letter = std::get_if<QChar>(&token)) {
            const char upper = static_cast<char>(letter->toUpper().unicode());
            if (upper != 'Z' && arity(upper) == 0) continue; // not a path command
            command = upper;
            relative = letter->isLower();
            collected = 0;
            if (command == 'Z') builder.close();
            continue;
        }
        const int needed = arity(command);
        if (needed == 0) continue; // numbers after Z mean nothing
        arguments[collected++] = std::get<double>(token);
        if (collected < needed) continue;
        collected = 0;
        builder.run(command, relative, arguments);
        if (command == 'M') command = 'L'; // further pairs after a move are lines
    }
    if (!builder.valid() || builder.path().elementCount() == 0) return std::nullopt;
    return builder.path();
}

} // namespace PathData
