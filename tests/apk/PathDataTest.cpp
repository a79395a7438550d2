// The path grammar: separators, signs, exponents, implicit commands, reflections and arcs.
#include "apk/PathData.h"

#include <QPainterPath>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QPainterPath parsed(const QString& text) {
    const std::optional<QPainterPath> path = PathData::parse(text);
    EXPECT_TRUE(path.has_value()) << qPrintable(text);
    return path.value_or(QPainterPath());
}

// The elements as (type, x, y) triples, for comparing paths exactly.
QList<std::tuple<int, double, double>> shape(const QPainterPath& path) {
    QList<std::tuple<int, double, double>> out;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        out.append({int(e.type), e.x, e.y});
    }
    return out;
}

} // namespace

TEST(PathData, SeparatorsNumbersAndImplicitLines) {
    EXPECT_EQ(shape(parsed(u"M10,10L20,20"_s)), shape(parsed(u"M10 10 20 20"_s)));
    EXPECT_EQ(shape(parsed(u"M10,10L20,20"_s)), shape(parsed(u"M10\t10\n20,20"_s)));
    const QPainterPath relative = parsed(u"m10 10 5 0"_s);
    ASSERT_EQ(relative.elementCount(), 2);
    EXPECT_EQ(relative.elementAt(1).type, QPainterPath::LineToElement);
    EXPECT_EQ(QPointF(relative.elementAt(1)), QPointF(15, 10));
    const QPainterPath leading = parsed(u"5 5 10 5"_s); // numbers before any letter move first
    EXPECT_EQ(QPointF(leading.elementAt(0)), QPointF(5, 5));
    EXPECT_EQ(QPointF(leading.elementAt(1)), QPointF(10, 5));

    // Number splitting.
    EXPECT_EQ(QPointF(parsed(u"M-5-5"_s).elementAt(0)), QPointF(-5, -5));
    const QPainterPath exponent = parsed(u"M1e-3,2E1"_s);
    EXPECT_DOUBLE_EQ(exponent.elementAt(0).x, 0.001);
    EXPECT_DOUBLE_EQ(exponent.elementAt(0).y, 20);
    EXPECT_EQ(QPointF(parsed(u"M0.5.5"_s).elementAt(0)), QPointF(0.5, 0.5));
    EXPECT_FALSE(PathData::parse(u"M1#2,3"_s).has_value()) << "not a number";
    EXPECT_FALSE(PathData::parse(u"M1e999,0"_s).has_value()) << "not finite";
    EXPECT_FALSE(PathData::parse(QString()).has_value());
    EXPECT_FALSE(PathData::parse(u"M10"_s).has_value()) << "an incomplete pair draws nothing";
}

TEST(PathData, LinesAndCloses) {
    const QPainterPath path = parsed(u"M10,10 H30 V40 h-5 v-5 Z l5,5"_s);
    const QList<QPointF> expected{{10, 10}, {30, 10}, {30, 40}, {25, 40}, {25, 35}, {10, 10}};
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(QPointF(path.elementAt(i)), expected[i]) << i;
    // After Z the current point is the subpath's start.
    EXPECT_EQ(path.currentPosition(), QPointF(15, 15));
    EXPECT_EQ(QPointF(parsed(u"L7,8"_s).elementAt(0)), QPointF(7, 8)) << "L on an empty path moves";
    EXPECT_EQ(parsed(u"L7,8"_s).elementAt(0).type, QPainterPath::MoveToElement);
    EXPECT_EQ(parsed(u"M1,1 K 2,2"_s).elementCount(), 2) << "K is no command and is skipped";
}

TEST(PathData, SmoothCurvesReflectOnlyAfterTheirKind) {
    const QPainterPath afterLine = parsed(u"M0,0 L10,0 S20,10 30,0"_s);
    EXPECT_EQ(QPointF(afterLine.elementAt(2)), QPointF(10, 0)) << "first control = current point";
    const QPainterPath afterCubic = parsed(u"M0,0 C0,10 10,10 10,0 S20,-10 20,0"_s);
    EXPECT_EQ(QPointF(afterCubic.elementAt(4)), QPointF(10, -10)) << "reflection of (10,10) about (10,0)";
    const QPainterPath quads = parsed(u"M0,0 Q5,10 10,0 T20,0"_s);
    // Qt stores quadratics as cubics: the second curve's first control is 2/3 of the way to its
    // quadratic control (15,-10) from (10,0).
    EXPECT_NEAR(quads.elementAt(4).x, 10 + 2.0 / 3 * 5, 1e-9);
    EXPECT_NEAR(quads.elementAt(4).y, 2.0 / 3 * -10, 1e-9);
    const QPainterPath relativeCubic = parsed(u"M10,10 c0,10 10,10 10,0"_s);
    EXPECT_EQ(QPointF(relativeCubic.elementAt(3)), QPointF(20, 10));
}

TEST(PathData, ArcsBecomeCubics) {
    // A half circle of radius 10 from (0,0) to (20,0), sweeping through y = 10 (y grows down).
    const QPainterPath half = parsed(u"M0,0 A10,10 0 0,0 20,0"_s);
    ASSERT_EQ(half.elementCount(), 1 + 2 * 3); // two quarter segments
    EXPECT_EQ(half.currentPosition(), QPointF(20, 0));
    EXPECT_NEAR(half.pointAtPercent(0.5).y(), 10, 0.05);
    EXPECT_NEAR(half.pointAtPercent(0.5).x(), 10, 0.05);
    const QPainterPath other = parsed(u"M0,0 A10,10 0 0,1 20,0"_s);
    EXPECT_NEAR(other.pointAtPercent(0.5).y(), -10, 0.05);
    // Radii too small are scaled up until the arc fits.
    const QPainterPath scaled = parsed(u"M0,0 a1,1 0 0,0 20,0"_s);
    EXPECT_NEAR(scaled.pointAtPercent(0.5).y(), 10, 0.05);
    // Large arc: three quarters of a circle through the far side.
    const QPainterPath large = parsed(u"M0,10 A10,10 0 1,1 10,0"_s);
    EXPECT_EQ(large.elementCount(), 1 + 3 * 3);
    EXPECT_EQ(large.currentPosition(), QPointF(10, 0));
    const QPainterPath flat = parsed(u"M0,0 A0,0 0 0,0 20,5"_s);
    ASSERT_EQ(flat.elementCount(), 2);
    EXPECT_EQ(flat.elementAt(1).type, QPainterPath::LineToElement);
    // An arc to its own start point adds nothing; the path goes on from that point.
    EXPECT_EQ(shape(parsed(u"M5,5 A3,3 0 0,0 5,5"_s)), shape(parsed(u"M5,5"_s)));
    EXPECT_EQ(shape(parsed(u"M5,5 a3,3 0 1,1 0,0 L10,5"_s)), shape(parsed(u"M5,5 L10,5"_s)));
}
