// Labels and icon choice on APKs built by aapt (tests/data/apk; resource ids from the R.java
// files next to them), and on hand-made APKs for what aapt cannot produce.
#include "ApkBuilders.h"
#include "apk/APKIconExtractor.h"
#include "core/VantleLog.h"

#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

namespace {

QImage iconOf(const QString& name) {
    const std::optional<QByteArray> png = iconPNG(fixture(name));
    return png ? QImage::fromData(*png, "PNG").convertToFormat(QImage::Format_ARGB32) : QImage();
}

std::optional<QImage> renderFixture(const QString& name, quint32 id) {
    IconSource source(fixture(name), read(fixture(name), u"resources.arsc"_s).value_or(QByteArray()));
    std::optional<QImage> image = render(id, source, 0);
    if (image) *image = image->convertToFormat(QImage::Format_ARGB32);
    return image;
}

QRgb at(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}

// Share of pixels whose channels all lie within `tolerance` of the reference.
double matching(const QImage& image, const QImage& reference, int tolerance) {
    int close = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb a = image.pixel(x, y), b = reference.pixel(x, y);
            if (std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
                std::abs(qBlue(a) - qBlue(b)) <= tolerance && std::abs(qAlpha(a) - qAlpha(b)) <= tolerance)
                ++close;
        }
    return double(close) / (image.width() * image.height());
}

QString logText() {
    return VantleLog::main().tail(50).value_or(QString());
}

} // namespace

TEST(IconChoice, LabelsFromLiteralsAndStringResources) {
    EXPECT_EQ(label(fixture(u"tie"_s)), u"Tie Breaker"_s);
    EXPECT_EQ(label(fixture(u"densities"_s)), u"Densities"_s);              // UTF-8 table pool
    EXPECT_EQ(label(fixture(u"adaptive_vector"_s)), u"Ünïcødé Äpp 日本"_s); // UTF-16 table pool
    EXPECT_FALSE(label(fixture(u"fallback"_s)).has_value()) << "the first string value is empty";
    EXPECT_FALSE(label(u"/nonexistent.apk"_s).has_value());
}

TEST(IconChoice, HighestDensityBitmapBeatsAdaptiveXml) {
    // mdpi green, xxhdpi blue, xxxhdpi red, plus an adaptive icon for any density.
    const QImage icon = iconOf(u"densities"_s);
    ASSERT_EQ(icon.size(), QSize(192, 192));
    EXPECT_EQ(at(icon, 96, 96), qRgba(0xC0, 0, 0, 0xFF));
}

TEST(IconChoice, FirstBitmapWinsOnEqualDensity) {
    // drawable-hdpi (olive) comes before drawable-en-hdpi (teal) in the table.
    const QImage icon = iconOf(u"tie"_s);
    EXPECT_EQ(at(icon, 10, 10), qRgba(0x80, 0x80, 0, 0xFF));
}

TEST(IconChoice, JpegAndWebpBitmaps) {
    const QImage jpeg = iconOf(u"formats"_s);
    ASSERT_FALSE(jpeg.isNull());
    EXPECT_NEAR(qRed(at(jpeg, 40, 40)), 0xFF, 6);
    EXPECT_NEAR(qGreen(at(jpeg, 40, 40)), 0x80, 6);
    const std::optional<QImage> webp = renderFixture(u"formats"_s, 0x7F020000);
    ASSERT_TRUE(webp.has_value());
    EXPECT_EQ(at(*webp, 40, 40), qRgba(0x80, 0, 0xFF, 0xFF));
}

TEST(IconChoice, AdaptiveIconShowsTheCentralTwoThirdsOverTheBackground) {
    // Background: the framework's white. Foreground: 108 px, an 18 px blue margin that must stay
    // outside the canvas, inside it red on the left and transparent on the right.
    const QImage icon = iconOf(u"adaptive_white"_s);
    ASSERT_EQ(icon.size(), QSize(192, 192));
    for (const int y : {4, 96, 187}) {
        EXPECT_EQ(at(icon, 4, y), qRgba(255, 0, 0, 255)) << y;
        EXPECT_EQ(at(icon, 90, y), qRgba(255, 0, 0, 255)) << y;
        EXPECT_EQ(at(icon, 102, y), qRgba(255, 255, 255, 255)) << y;
        EXPECT_EQ(at(icon, 187, y), qRgba(255, 255, 255, 255)) << y;
    }
}

TEST(IconChoice, AdaptiveIconWithColourResourceAndVectorForeground) {
    const QImage icon = iconOf(u"adaptive_vector"_s);
    ASSERT_EQ(icon.size(), QSize(192, 192));
    EXPECT_EQ(at(icon, 10, 10), qRgba(0x33, 0x66, 0x99, 0xFF)); // @color/brand
    // The layer's 108 units span -48..240 px, so its square 36..72 lands on 48..144.
    EXPECT_EQ(at(icon, 96, 96), qRgba(255, 255, 255, 255));
    EXPECT_EQ(at(icon, 50, 50), qRgba(255, 255, 255, 255));
    EXPECT_EQ(at(icon, 44, 44), qRgba(0x33, 0x66, 0x99, 0xFF));
    EXPECT_EQ(at(icon, 28, 96), qRgba(0x33, 0x66, 0x99, 0xFF));
}

TEST(IconChoice, VectorMatchesItsSvgTwin) {
    const QImage icon = iconOf(u"vector"_s);
    ASSERT_EQ(icon.size(), QSize(192, 192));
    QImage reference(192, 192, QImage::Format_ARGB32);
    reference.fill(Qt::transparent);
    QSvgRenderer svg(QStringLiteral(VANTLE_APK_FIXTURES "/src/vector/ic_vector.svg"));
    ASSERT_TRUE(svg.isValid());
    QPainter painter(&reference);
    svg.render(&painter, QRectF(0, 0, 192, 192));
    painter.end();
    // Edges may differ by antialiasing; shapes, colours, gradients and holes may not.
    EXPECT_GT(matching(icon, reference, 8), 0.97);
    EXPECT_GT(matching(icon, reference, 40), 0.995);
    // The even-odd hole shows the gradient, not the darkened square.
    EXPECT_EQ(at(icon, 45, 45), at(reference, 45, 45));
}

TEST(IconChoice, InsetShapeColourAndReferenceDepth) {
    const std::optional<QImage> inset = renderFixture(u"inset"_s, 0x7F020008); // 25 % on every side
    ASSERT_TRUE(inset.has_value());
    EXPECT_EQ(qAlpha(at(*inset, 40, 96)), 0);
    EXPECT_EQ(at(*inset, 60, 60), qRgba(0x30, 0x60, 0xA0, 0xFF));
    EXPECT_EQ(at(*inset, 130, 130), qRgba(0x30, 0x60, 0xA0, 0xFF));
    EXPECT_EQ(qAlpha(at(*inset, 150, 96)), 0);

    const std::optional<QImage> oval = renderFixture(u"inset"_s, 0x7F02000A);
    ASSERT_TRUE(oval.has_value());
    EXPECT_EQ(at(*oval, 96, 96), qRgba(0, 0xAA, 0xFF, 0xFF));
    EXPECT_EQ(qAlpha(at(*oval, 3, 3)), 0) << "a circle, not a square";
    const std::optional<QImage> flat = renderFixture(u"inset"_s, 0x7F020007);
    ASSERT_TRUE(flat.has_value());
    EXPECT_EQ(at(*flat, 3, 3), qRgba(0x4C, 0xAF, 0x50, 0xFF));

    EXPECT_TRUE(renderFixture(u"inset"_s, 0x7F020000).has_value()) << "three references deep";
    EXPECT_FALSE(renderFixture(u"inset"_s, 0x7F020003).has_value()) << "four references deep";
}

TEST(IconChoice, NoIconLogsATraceLine) {
    EXPECT_FALSE(iconPNG(fixture(u"fallback"_s)).has_value());
    EXPECT_TRUE(logText().contains(u"icon trace fallback.apk: attrs=[\"label\"]"_s)) << qPrintable(logText());
}

TEST(IconChoice, AdaptiveWithoutLayersFallsThroughWithATrace) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"hollow.apk"_s);
    const QByteArray manifest = XmlBuilder()
                                    .start(u"manifest"_s, {text(u"package"_s, u"org.example.hollow"_s)})
                                    .start(u"application"_s, {typed(u"icon"_s, referenceType, 0x7F010000)})
                                    .build();
    const QByteArray icon = XmlBuilder()
                                .start(u"adaptive-icon"_s)
                                .start(u"background"_s, {typed(u"drawable"_s, referenceType, 0x7F010009)})
                                .end()
                                .start(u"foreground"_s, {typed(u"drawable"_s, referenceType, 0x7F01000A)})
                                .end()
                                .end()
                                .build();
    const QByteArray arsc = table({u"res/mipmap-anydpi-v26/ic_launcher.xml"_s}, 0x7F,
                                  {{1, 0xFFFE, Offsets::bits16, {EntrySpec{stringType, 0}}}});
    ASSERT_TRUE(writeZip(apk, {{u"AndroidManifest.xml"_s, manifest},
                               {u"resources.arsc"_s, arsc},
                               {u"res/mipmap-anydpi-v26/ic_launcher.xml"_s, icon}}));
    EXPECT_FALSE(iconPNG(apk).has_value());
    EXPECT_TRUE(logText().contains(
        u"icon trace adaptive: bg=false fg=false BG <background drawable=type1/0x7F010009->[]>"_s))
        << qPrintable(logText());
    EXPECT_TRUE(logText().contains(u"icon trace hollow.apk: attrs=[\"icon\"] icon=type1/0x7F010000 "
                                   "[65534 res/mipmap-anydpi-v26/ic_launcher.xml root=adaptive-icon]"_s))
        << qPrintable(logText());
}

TEST(IconChoice, ReferenceCyclesEnd) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"cycle.apk"_s);
    // An inset whose drawable is itself.
    const QByteArray inset =
        XmlBuilder().start(u"inset"_s, {typed(u"drawable"_s, referenceType, 0x7F010000)}).build();
    const QByteArray arsc =
        table({u"res/drawable/loop.xml"_s}, 0x7F, {{1, 0, Offsets::bits32, {EntrySpec{stringType, 0}}}});
    ASSERT_TRUE(writeZip(apk, {{u"res/drawable/loop.xml"_s, inset}}));
    IconSource source(apk, arsc);
    EXPECT_FALSE(render(0x7F010000, source, 0).has_value());
}
