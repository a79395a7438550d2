// Vector drawables built by hand: viewport defaults, fill rules, strokes, gradients, shapes and
// number decoding.
#include "apk/IconVector.h"

#include "ApkBuilders.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

namespace {

constexpr quint32 red = 0xFFFF0000;

quint32 floatBits(float value) {
    return std::bit_cast<quint32>(value);
}

XmlBuilder::Attribute number(const QString& name, float value) {
    return typed(name, floatType, floatBits(value));
}

std::optional<QImage> draw(const QByteArray& document, const QByteArray& arsc = {}) {
    IconSource source(QString(), arsc);
    std::optional<QImage> image = IconVector::render(document, source, 0);
    if (image) *image = image->convertToFormat(QImage::Format_ARGB32);
    return image;
}

QByteArray vector(const QList<XmlBuilder::Attribute>& pathAttributes,
                  const QList<XmlBuilder::Attribute>& root = {}) {
    return XmlBuilder().start(u"vector"_s, root).start(u"path"_s, pathAttributes).end().end().build();
}

} // namespace

TEST(IconVector, ViewportDefaultsTo108AndNothingDrawnIsNoImage) {
    const QList<XmlBuilder::Attribute> leftHalf{text(u"pathData"_s, u"M0,0h54v108h-54z"_s),
                                                typed(u"fillColor"_s, colorARGB8Type, red)};
    const std::optional<QImage> image = draw(vector(leftHalf));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->pixel(40, 96), red);
    EXPECT_EQ(qAlpha(image->pixel(150, 96)), 0);
    const std::optional<QImage> wide =
        draw(vector(leftHalf, {number(u"viewportWidth"_s, 54), number(u"viewportHeight"_s, 108)}));
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(wide->pixel(150, 96), red);
    EXPECT_FALSE(draw(vector(leftHalf, {number(u"viewportWidth"_s, 0)})).has_value());

    // Nothing drawn is no image.
    EXPECT_FALSE(draw(vector({text(u"pathData"_s, u"M0,0h54v108h-54z"_s)})).has_value());
    // A stroke of width 0 is not drawn either.
    EXPECT_FALSE(draw(vector({text(u"pathData"_s, u"M0,0L108,108"_s),
                              typed(u"strokeColor"_s, colorARGB8Type, red), number(u"strokeWidth"_s, 0)}))
                     .has_value());
    EXPECT_FALSE(draw(XmlBuilder().start(u"bitmap"_s).build()).has_value()) << "unknown root";
}

TEST(IconVector, FillRulesAndStrokes) {
    // Even-odd leaves a hole where subpaths overlap.
    const QString squares = u"M10,10h88v88h-88z M30,30h48v48h-48z"_s;
    const auto filled = [&](quint32 fillType) {
        return draw(vector({text(u"pathData"_s, squares), typed(u"fillColor"_s, colorARGB8Type, red),
                            typed(u"fillType"_s, decimalType, fillType)}));
    };
    EXPECT_EQ(qAlpha(filled(1)->pixel(96, 96)), 0);
    EXPECT_EQ(filled(0)->pixel(96, 96), red);
    EXPECT_EQ(filled(1)->pixel(30, 96), red);

    // Strokes use their width, alpha and caps.
    const auto stroked = [](quint32 cap) {
        return draw(vector({text(u"pathData"_s, u"M30,54H78"_s), typed(u"strokeColor"_s, colorARGB8Type, red),
                            number(u"strokeWidth"_s, 12), number(u"strokeAlpha"_s, 0.5f),
                            typed(u"strokeLineCap"_s, decimalType, cap)}));
    };
    const std::optional<QImage> butt = stroked(0);
    ASSERT_TRUE(butt.has_value());
    EXPECT_NEAR(qAlpha(butt->pixel(96, 96)), 128, 2);
    EXPECT_EQ(qAlpha(butt->pixel(96, 120)), 0) << "beyond half the width";
    EXPECT_EQ(qAlpha(butt->pixel(48, 96)), 0) << "butt ends at the end point";
    EXPECT_NEAR(qAlpha(stroked(2)->pixel(48, 96)), 128, 2) << "square caps reach past it";
}

TEST(IconVector, GroupTransformsAndClipPaths) {
    // A 20-unit square at the origin, moved by (44,44) and scaled 2x about its own centre (10,10).
    const QByteArray document =
        XmlBuilder()
            .start(u"vector"_s)
            .start(u"group"_s,
                   {number(u"translateX"_s, 44), number(u"translateY"_s, 44), number(u"pivotX"_s, 10),
                    number(u"pivotY"_s, 10), number(u"scaleX"_s, 2), number(u"scaleY"_s, 2)})
            .start(u"clip-path"_s, {text(u"pathData"_s, u"M0,0h10v20h-10z"_s)})
            .end()
            .start(u"path"_s,
                   {text(u"pathData"_s, u"M0,0h20v20h-20z"_s), typed(u"fillColor"_s, colorARGB8Type, red)})
            .end()
            .end()
            .start(u"path"_s,
                   {text(u"pathData"_s, u"M100,100h8v8h-8z"_s), typed(u"fillColor"_s, colorARGB8Type, red)})
            .end()
            .end()
            .build();
    const std::optional<QImage> image = draw(document);
    ASSERT_TRUE(image.has_value());
    // The square spans 34..74 units = 60..132 px; the clip keeps its left half (34..54 = 60..96).
    EXPECT_EQ(image->pixel(90, 110), red);
    EXPECT_EQ(image->pixel(70, 70), red);
    EXPECT_EQ(qAlpha(image->pixel(110, 110)), 0);
    EXPECT_EQ(qAlpha(image->pixel(50, 110)), 0);
    EXPECT_EQ(image->pixel(185, 185), red) << "the clip ended with its group";
}

TEST(IconVector, RadialGradientFromItems) {
    const QByteArray gradient =
        XmlBuilder()
            .start(u"gradient"_s, {typed(u"type"_s, decimalType, 1), number(u"centerX"_s, 54),
                                   number(u"centerY"_s, 54), number(u"gradientRadius"_s, 54)})
            .start(u"item"_s, {typed(u"color"_s, colorARGB8Type, 0xFFFFFFFF), number(u"offset"_s, 0)})
            .end()
            .start(u"item"_s, {typed(u"color"_s, colorARGB8Type, 0xFF0000FF), number(u"offset"_s, 1)})
            .end()
            .end()
            .build();
    const QByteArray arsc =
        table({u"res/color/glow.xml"_s}, 0x7F, {{7, 0, Offsets::bits32, {EntrySpec{stringType, 0}}}});
    // The gradient lives in a file of the APK; a zip with it stands in for the app.
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"g.apk"_s);
    ASSERT_TRUE(writeZip(apk, {{u"res/color/glow.xml"_s, gradient}}));
    IconSource source(apk, arsc);
    const std::optional<QImage> image =
        IconVector::render(vector({text(u"pathData"_s, u"M0,0h108v108h-108z"_s),
                                   typed(u"fillColor"_s, referenceType, 0x7F070000)}),
                           source, 0);
    ASSERT_TRUE(image.has_value());
    const QImage argb = image->convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(qRed(argb.pixel(96, 96)), 245) << "white at the centre";
    EXPECT_LT(qRed(argb.pixel(96, 4)), 20) << "blue at the radius";
    EXPECT_NEAR(qRed(argb.pixel(96, 50)), qRed(argb.pixel(50, 96)), 2) << "round, not linear";
    EXPECT_EQ(argb.pixel(2, 2), 0xFF0000FFu) << "padded beyond the radius";
}

TEST(IconVector, OvalShapeIsACircle) {
    const QByteArray shape = XmlBuilder()
                                 .start(u"shape"_s, {typed(u"shape"_s, decimalType, 1)})
                                 .start(u"solid"_s, {typed(u"color"_s, colorRGB8Type, 0xFF00FF00)})
                                 .end()
                                 .end()
                                 .build();
    const std::optional<QImage> image = draw(shape);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->pixel(96, 96), 0xFF00FF00u);
    EXPECT_EQ(qAlpha(image->pixel(5, 5)), 0);
    EXPECT_EQ(image->pixel(96, 2), 0xFF00FF00u);
    EXPECT_FALSE(draw(XmlBuilder().start(u"shape"_s).start(u"stroke"_s).end().end().build()).has_value());
}

TEST(IconVector, NumbersFromComplexValues) {
    const struct {
        quint8 type;
        quint32 data;
        std::optional<double> value;
    } cases[] = {
        {dimensionType, (108u << 8) | 0x01, 108}, // 108dp, radix 23p0
        {fractionType, 0x20000030, 0.25},         // "25%" as aapt writes it
        {dimensionType, 0xFFFFFF00u, -1},         // mantissa -1 in units of 1/256: -256 / 256
        {hexadecimalType, 0xFFFFFFFE, -2},        {floatType, 0x7FC00000, std::nullopt}, // NaN
        {stringType, 0x7FC00000, std::nullopt},
    };
    for (const auto& c : cases) {
        Attr attr;
        attr.type = c.type;
        attr.data = c.data;
        EXPECT_EQ(IconVector::number(&attr), c.value) << std::hex << c.data;
    }
    EXPECT_FALSE(IconVector::number(nullptr).has_value());
}

TEST(IconVector, DeepNestingIsCut) {
    XmlBuilder builder;
    builder.start(u"vector"_s);
    for (int i = 0; i < 5000; ++i)
        builder.start(u"group"_s);
    builder.start(u"path"_s,
                  {text(u"pathData"_s, u"M0,0h108v108h-108z"_s), typed(u"fillColor"_s, colorARGB8Type, red)});
    const std::unique_ptr<IconVector::Node> root = IconVector::tree(builder.build());
    ASSERT_TRUE(root);
    int depth = 0;
    for (const IconVector::Node* node = root.get(); !node->children.empty();
         node = node->children.front().get())
        ++depth;
    EXPECT_EQ(depth, IconVector::maxNesting - 1);
    EXPECT_FALSE(draw(builder.build()).has_value()) << "the path was too deep to count";
}
