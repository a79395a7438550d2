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

// Pixels of the icons aapt-built APKs give: their launcher icon (id 0) or one resource.
TEST(IconChoice, PixelsOfTheFixtureIcons) {
    const QRgb white = qRgba(255, 255, 255, 255), red = qRgba(255, 0, 0, 255), clear = 0,
               brand = qRgba(0x33, 0x66, 0x99, 0xFF), insetBlue = qRgba(0x30, 0x60, 0xA0, 0xFF);
    const struct {
        const char* what;
        const char* apk;
        quint32 id;
        int x, y;
        QRgb colour;
    } cases[] = {
        // mdpi green, xxhdpi blue, xxxhdpi red, plus an adaptive icon for any density.
        {"the highest density bitmap beats adaptive XML", "densities", 0, 96, 96, qRgba(0xC0, 0, 0, 0xFF)},
        // drawable-hdpi (olive) comes before drawable-en-hdpi (teal) in the table.
        {"the first bitmap wins on equal density", "tie", 0, 10, 10, qRgba(0x80, 0x80, 0, 0xFF)},
        {"WebP", "formats", 0x7F020000, 40, 40, qRgba(0x80, 0, 0xFF, 0xFF)},
        // Background: the framework's white. Foreground: 108 px, an 18 px blue margin that must stay
        // outside the canvas, inside it red on the left and transparent on the right.
        {"adaptive, top left", "adaptive_white", 0, 4, 4, red},
        {"adaptive, left of the middle", "adaptive_white", 0, 90, 96, red},
        {"adaptive, bottom left", "adaptive_white", 0, 4, 187, red},
        {"adaptive, right of the middle", "adaptive_white", 0, 102, 96, white},
        {"adaptive, top right", "adaptive_white", 0, 187, 4, white},
        {"adaptive, bottom right", "adaptive_white", 0, 187, 187, white},
        // @color/brand behind a vector layer whose 108 units span -48..240 px: its square 36..72
        // lands on 48..144.
        {"colour background", "adaptive_vector", 0, 10, 10, brand},
        {"vector square", "adaptive_vector", 0, 96, 96, white},
        {"vector square, corner", "adaptive_vector", 0, 50, 50, white},
        {"outside the square", "adaptive_vector", 0, 44, 44, brand},
        {"left of the square", "adaptive_vector", 0, 28, 96, brand},
        // An inset of 25 % on every side.
        {"inset margin, left", "inset", 0x7F020008, 40, 96, clear},
        {"inset, top left", "inset", 0x7F020008, 60, 60, insetBlue},
        {"inset, bottom right", "inset", 0x7F020008, 130, 130, insetBlue},
        {"inset margin, right", "inset", 0x7F020008, 150, 96, clear},
        {"oval shape", "inset", 0x7F02000A, 96, 96, qRgba(0, 0xAA, 0xFF, 0xFF)},
        {"an oval, not a square", "inset", 0x7F02000A, 3, 3, clear},
        {"a flat colour", "inset", 0x7F020007, 3, 3, qRgba(0x4C, 0xAF, 0x50, 0xFF)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString apk = QString::fromLatin1(c.apk);
        const std::optional<QImage> icon = c.id ? renderFixture(apk, c.id) : std::optional(iconOf(apk));
        ASSERT_TRUE(icon.has_value() && icon->valid(c.x, c.y));
        const QRgb pixel = icon->pixel(c.x, c.y);
        EXPECT_EQ(c.colour ? pixel : qAlpha(pixel), c.colour) << std::hex << pixel;
    }
    for (const QString& apk : {u"densities"_s, u"adaptive_white"_s, u"adaptive_vector"_s})
        EXPECT_EQ(iconOf(apk).size(), QSize(192, 192)) << qPrintable(apk);
    EXPECT_TRUE(renderFixture(u"inset"_s, 0x7F020000).has_value()) << "three references deep";
    EXPECT_FALSE(renderFixture(u"inset"_s, 0x7F020003).has_value()) << "four references deep";
    const QImage jpeg = iconOf(u"formats"_s);
    ASSERT_FALSE(jpeg.isNull());
    EXPECT_NEAR(qRed(jpeg.pixel(40, 40)), 0xFF, 6);
    EXPECT_NEAR(qGreen(jpeg.pixel(40, 40)), 0x80, 6);
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
    EXPECT_EQ(icon.pixel(45, 45), reference.pixel(45, 45));
}

// No icon, an adaptive one without layers, a cycle of references: nothing, and a trace says why.
TEST(IconChoice, NoIconLayersOrEndlessReferencesGiveNothing) {
    EXPECT_FALSE(iconPNG(fixture(u"fallback"_s)).has_value());
    EXPECT_TRUE(logText().contains(u"icon trace fallback.apk: attrs=[\"label\"]"_s)) << qPrintable(logText());
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
    // An inset whose drawable is itself: the reference cycle ends.
    const QByteArray inset =
        XmlBuilder().start(u"inset"_s, {typed(u"drawable"_s, referenceType, 0x7F010000)}).build();
    const QByteArray arsc = table({u"res/mipmap-anydpi-v26/ic_launcher.xml"_s}, 0x7F,
                                  {{1, 0xFFFE, Offsets::bits16, {EntrySpec{stringType, 0}}}});
    ASSERT_TRUE(writeZip(apk, {{u"AndroidManifest.xml"_s, manifest},
                               {u"resources.arsc"_s, arsc},
                               {u"res/mipmap-anydpi-v26/ic_launcher.xml"_s, icon},
                               {u"res/drawable/loop.xml"_s, inset}}));
    EXPECT_FALSE(iconPNG(apk).has_value());
    EXPECT_TRUE(logText().contains(
        u"icon trace adaptive: bg=false fg=false BG <background drawable=type1/0x7F010009->[]>"_s))
        << qPrintable(logText());
    EXPECT_TRUE(logText().contains(u"icon trace hollow.apk: attrs=[\"icon\"] icon=type1/0x7F010000 "
                                   "[65534 res/mipmap-anydpi-v26/ic_launcher.xml root=adaptive-icon]"_s))
        << qPrintable(logText());
    IconSource cycle(apk, table({u"res/drawable/loop.xml"_s}, 0x7F,
                                {{1, 0, Offsets::bits32, {EntrySpec{stringType, 0}}}}));
    EXPECT_FALSE(render(0x7F010000, cycle, 0).has_value());
}
