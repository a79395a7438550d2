// Icons: choice and pixels on APKs built by aapt (tests/data/apk; resource ids from the R.java files
// next to them), vector drawables built by hand, monogram tiles, the file-name fallback,
// the cache file and the store's one attempt per run.
#include "ApkBuilders.h"
#include "apk/APKIconExtractor.h"
#include "apk/AppIcon.h"
#include "apk/AppIconStore.h"
#include "apk/IconVector.h"
#include "core/VantleLog.h"

#include <QBuffer>
#include <QPainter>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

namespace {

QImage iconOf(const QString& name) {
    const std::optional<QByteArray> png = iconPNG(fixture(name));
    return png ? QImage::fromData(*png, "PNG").convertToFormat(QImage::Format_ARGB32) : QImage();
}

std::optional<QImage> argb(std::optional<QImage> image) {
    if (image) *image = image->convertToFormat(QImage::Format_ARGB32);
    return image;
}

std::optional<QImage> renderFixture(const QString& name, quint32 id) {
    IconSource source(fixture(name), read(fixture(name), u"resources.arsc"_s).value_or(QByteArray()));
    return argb(render(id, source, 0));
}

// Whether every channel lies within `tolerance` of the reference; only alpha for a clear reference.
bool near(QRgb pixel, QRgb reference, int tolerance) {
    if (qAlpha(reference) == 0) return qAlpha(pixel) <= tolerance;
    return std::abs(qRed(pixel) - qRed(reference)) <= tolerance &&
           std::abs(qGreen(pixel) - qGreen(reference)) <= tolerance &&
           std::abs(qBlue(pixel) - qBlue(reference)) <= tolerance &&
           std::abs(qAlpha(pixel) - qAlpha(reference)) <= tolerance;
}

QString logText() {
    return VantleLog::main().tail(50).value_or(QString());
}

} // namespace

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
        {"adaptive, bottom right", "adaptive_white", 0, 187, 187, white},
        // @color/brand behind a vector layer whose 108 units span -48..240 px: its square 36..72
        // lands on 48..144.
        {"colour background", "adaptive_vector", 0, 10, 10, brand},
        {"vector square", "adaptive_vector", 0, 96, 96, white},
        {"vector square, corner", "adaptive_vector", 0, 50, 50, white},
        {"outside the square", "adaptive_vector", 0, 44, 44, brand},
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
        EXPECT_TRUE(near(icon->pixel(c.x, c.y), c.colour, 0)) << std::hex << icon->pixel(c.x, c.y);
    }
    for (const QString& apk : {u"densities"_s, u"adaptive_white"_s, u"adaptive_vector"_s})
        EXPECT_EQ(iconOf(apk).size(), QSize(192, 192)) << qPrintable(apk);
    EXPECT_TRUE(renderFixture(u"inset"_s, 0x7F020000).has_value()) << "three references deep";
    EXPECT_FALSE(renderFixture(u"inset"_s, 0x7F020003).has_value()) << "four references deep";
    EXPECT_TRUE(near(iconOf(u"formats"_s).pixel(40, 40), qRgb(0xFF, 0x80, 0), 6)) << "JPEG";
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
    for (const auto& [tolerance, share] : {std::pair{8, 0.97}, std::pair{40, 0.995}}) {
        int close = 0;
        for (int y = 0; y < 192; ++y)
            for (int x = 0; x < 192; ++x)
                close += near(icon.pixel(x, y), reference.pixel(x, y), tolerance);
        EXPECT_GT(close / (192.0 * 192), share) << tolerance;
    }
    // The even-odd hole shows the gradient, not the darkened square.
    EXPECT_EQ(icon.pixel(45, 45), reference.pixel(45, 45));
}

// No icon, an adaptive one without layers, a cycle of references: nothing, and a trace says why.
TEST(IconChoice, NoIconLayersOrEndlessReferencesGiveNothing) {
    EXPECT_FALSE(iconPNG(fixture(u"fallback"_s)).has_value());
    EXPECT_TRUE(logText().contains(u"icon trace fallback.apk: attrs=[\"label\"]"_s)) << qPrintable(logText());
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"hollow.apk"_s);
    ASSERT_TRUE(writeZip(
        apk,
        {{u"AndroidManifest.xml"_s,
          compiled(u"<manifest package='org.example.hollow'><application icon='@7F010000'/></manifest>"_s)},
         {u"resources.arsc"_s, table({u"res/mipmap-anydpi-v26/ic_launcher.xml"_s}, 0x7F,
                                     {{1, 0xFFFE, Offsets::bits16, {EntrySpec{stringType, 0}}}})},
         {u"res/mipmap-anydpi-v26/ic_launcher.xml"_s,
          compiled(u"<adaptive-icon><background drawable='@7F010009'/>"
                   "<foreground drawable='@7F01000A'/></adaptive-icon>"_s)},
         // An inset whose drawable is itself: the reference cycle ends.
         {u"res/drawable/loop.xml"_s, compiled(u"<inset drawable='@7F010000'/>"_s)}}));
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

// Vector drawables and shapes, pixel by pixel at 192 px; a document that draws nothing gives no image.
TEST(IconVector, DrawsWhatTheDocumentSaysAndNothingDrawnIsNoImage) {
    const QRgb red = 0xFFFF0000, clear = 0, halfRed = qRgba(255, 0, 0, 128), green = 0xFF00FF00;
    const QString
        leftHalf = u"<path pathData='M0,0h54v108h-54z' fillColor='#FFFF0000'/></vector>"_s,
        squares = u"<vector><path pathData='M10,10h88v88h-88z M30,30h48v48h-48z' fillColor='#FFFF0000' "_s,
        stroke = u"<vector><path pathData='M30,54H78' strokeColor='#FFFF0000' strokeWidth='f:12' "
                 "strokeAlpha='f:0.5' strokeLineCap="_s;
    // A 20-unit square at the origin, moved by (44,44) and scaled 2x about its own centre (10,10):
    // it spans 34..74 units = 60..132 px; the clip keeps its left half (34..54 = 60..96).
    const QString group =
        u"<vector><group translateX='f:44' translateY='f:44' pivotX='f:10' pivotY='f:10' scaleX='f:2' "
        "scaleY='f:2'><clip-path pathData='M0,0h10v20h-10z'/><path pathData='M0,0h20v20h-20z' "
        "fillColor='#FFFF0000'/></group><path pathData='M100,100h8v8h-8z' fillColor='#FFFF0000'/></vector>"_s;
    const QString gradient =
        u"<vector><path pathData='M0,0h108v108h-108z' fillColor='@7F070000'/></vector>"_s;
    const QString oval = u"<shape shape='t:10:1'><solid color='t:1D:FF00FF00'/></shape>"_s;
    const struct {
        const char* what;
        QString document;
        int x, y;
        QRgb colour;
        int tolerance = 0;
    } cases[] = {
        {"viewport 108 by default", u"<vector>"_s + leftHalf, 40, 96, red},
        {"right half", u"<vector>"_s + leftHalf, 150, 96, clear},
        {"a viewport of 54", u"<vector viewportWidth='f:54' viewportHeight='f:108'>"_s + leftHalf, 150, 96,
         red},
        {"even-odd hole", squares + u"fillType='t:10:1'/></vector>"_s, 96, 96, clear},
        {"even-odd outside the hole", squares + u"fillType='t:10:1'/></vector>"_s, 30, 96, red},
        {"non-zero fills the hole", squares + u"fillType='t:10:0'/></vector>"_s, 96, 96, red},
        {"stroke width and alpha", stroke + u"'t:10:0'/></vector>"_s, 96, 96, halfRed, 2},
        {"beyond half the width", stroke + u"'t:10:0'/></vector>"_s, 96, 120, clear},
        {"butt ends at the end point", stroke + u"'t:10:0'/></vector>"_s, 48, 96, clear},
        {"square caps reach past it", stroke + u"'t:10:2'/></vector>"_s, 48, 96, halfRed, 2},
        {"scaled, clipped square", group, 90, 110, red},
        {"scaled square, top", group, 70, 70, red},
        {"clipped away", group, 110, 110, clear},
        {"left of the square", group, 50, 110, clear},
        {"the clip ended with its group", group, 185, 185, red},
        {"white at the gradient's centre", gradient, 96, 96, 0xFFFFFFFF, 10},
        {"blue at the radius", gradient, 96, 4, 0xFF0000FF, 20},
        {"padded beyond the radius", gradient, 2, 2, 0xFF0000FF},
        {"oval", oval, 96, 96, green},
        {"oval, top", oval, 96, 2, green},
        {"oval, not its corner", oval, 5, 5, clear},
    };
    // The radial gradient lives in a file of the APK; a zip with it stands in for the app.
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"g.apk"_s);
    ASSERT_TRUE(writeZip(
        apk, {{u"res/color/glow.xml"_s,
               compiled(u"<gradient type='t:10:1' centerX='f:54' centerY='f:54' gradientRadius='f:54'>"
                        "<item color='#FFFFFFFF' offset='f:0'/><item color='#FF0000FF' "
                        "offset='f:1'/></gradient>"_s)}}));
    const QByteArray arsc =
        table({u"res/color/glow.xml"_s}, 0x7F, {{7, 0, Offsets::bits32, {EntrySpec{stringType, 0}}}});
    const auto draw = [&](const QString& document) {
        IconSource source(apk, arsc);
        return argb(IconVector::render(compiled(document), source, 0));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<QImage> image = draw(c.document);
        ASSERT_TRUE(image.has_value());
        EXPECT_TRUE(near(image->pixel(c.x, c.y), c.colour, c.tolerance))
            << std::hex << image->pixel(c.x, c.y);
    }
    const std::optional<QImage> glow = draw(gradient);
    EXPECT_NEAR(qRed(glow->pixel(96, 50)), qRed(glow->pixel(50, 96)), 2) << "round, not linear";
    for (const QString& nothing : {
             u"<vector viewportWidth='f:0'>"_s + leftHalf,
             u"<vector><path pathData='M0,0h54v108h-54z'/></vector>"_s, // no fill
             u"<vector><path pathData='M0,0L108,108' strokeColor='#FFFF0000' strokeWidth='f:0'/></vector>"_s,
             u"<bitmap/>"_s,
             u"<shape><stroke/></shape>"_s,
         })
        EXPECT_FALSE(draw(nothing).has_value()) << qPrintable(nothing);
}

TEST(IconVector, NumbersFromComplexValuesAndDeepNestingIsCut) {
    const std::tuple<quint8, quint32, std::optional<double>> cases[] = {
        {dimensionType, (108u << 8) | 0x01, 108}, // 108dp, radix 23p0
        {fractionType, 0x20000030, 0.25},         // "25%" as aapt writes it
        {dimensionType, 0xFFFFFF00u, -1},         // mantissa -1 in units of 1/256: -256 / 256
        {hexadecimalType, 0xFFFFFFFE, -2},        {floatType, 0x7FC00000, std::nullopt}, // NaN
        {stringType, 0x7FC00000, std::nullopt},
    };
    for (const auto& [type, data, value] : cases) {
        const Attr attr{type, data, std::nullopt};
        EXPECT_EQ(IconVector::number(&attr), value) << std::hex << data;
    }
    EXPECT_FALSE(IconVector::number(nullptr).has_value());

    const QByteArray deep = compiled(u"<vector>"_s + u"<group>"_s.repeated(5000) +
                                     u"<path pathData='M0,0h108v108h-108z' fillColor='#FFFF0000'/>"_s);
    const std::unique_ptr<IconVector::Node> root = IconVector::tree(deep);
    ASSERT_TRUE(root);
    int depth = 0;
    for (const IconVector::Node* node = root.get(); !node->children.empty();
         node = node->children.front().get())
        ++depth;
    EXPECT_EQ(depth, IconVector::maxNesting - 1);
    IconSource source(QString(), {});
    EXPECT_FALSE(IconVector::render(deep, source, 0).has_value()) << "the path was too deep to count";
}

TEST(AppIcon, MonogramsPaletteAndTiles) {
    const std::pair<QString, QString> monograms[] = {
        {u"Signal Messenger"_s, u"SM"_s},
        {u"k-9 mail"_s, u"K9"_s},
        {u"F-Droid"_s, u"FD"_s},
        {u"the_quick brown fox"_s, u"TQ"_s},
        {u"  --  "_s, u"?"_s},
        {QString(), u"?"_s},
        {u"élan"_s, u"É"_s},
    };
    for (const auto& [name, monogram] : monograms)
        EXPECT_EQ(AppIcon::monogram(name), monogram) << name.toStdString();
    // The hash starts at 7 and multiplies by 31 per character, wrapping at 32 bits; the colour is it mod 7.
    EXPECT_EQ(AppIcon::paletteIndex(u"ab"_s), 4);            // (7 * 31 + 97) * 31 + 98 = 9832
    EXPECT_EQ(AppIcon::paletteIndex(QString(200, u'z')), 0); // wraps at 32 bits (64 would give 5)
    EXPECT_DOUBLE_EQ(AppIcon::radius(64, u"pixel"_s), 32);
    EXPECT_DOUBLE_EQ(AppIcon::radius(64, u"something"_s), AppIcon::radius(64, u"classic"_s));

    const QImage circle = AppIcon{u"Maps"_s, 128, std::nullopt, u"pixel"_s}.rendered();
    EXPECT_LT(qAlpha(circle.pixel(6, 6)), 60) << "a circle leaves the corner (almost) empty";
    EXPECT_EQ(qAlpha(circle.pixel(64, 20)), 255);
    // The height of the white (text) pixels in the middle of a rendered tile.
    const auto letterHeight = [](const QString& name) {
        const QImage tile = AppIcon{name, 128, std::nullopt, u"classic"_s}.rendered();
        int top = tile.height(), bottom = -1;
        for (int y = 0; y < tile.height(); ++y)
            for (int x = tile.width() / 4; x < 3 * tile.width() / 4; ++x)
                if (near(tile.pixel(x, y), qRgb(255, 255, 255), 15)) {
                    top = std::min(top, y);
                    bottom = y;
                }
        return bottom - top;
    };
    EXPECT_GT(letterHeight(u"W"_s), letterHeight(u"W W"_s)) << "one letter is drawn larger than two";
    EXPECT_GT(letterHeight(u"W W"_s), 20);
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    const QImage withImage = AppIcon{u"Maps"_s, 128, red, u"ios"_s}.rendered();
    EXPECT_EQ(withImage.pixel(64, 64), QColor(Qt::red).rgba());
    EXPECT_EQ(qAlpha(withImage.pixel(1, 1)), 0) << "clipped to the rounded square";
}

TEST(IconStore, FallbackByNameCacheFileAndOneAttemptPerAppPerRun) {
    // The entries, and the index of the best (-1: none).
    const std::pair<QString, int> cases[] = {
        {u"res/mipmap-xxxhdpi-v4/ic_launcher_round.png res/mipmap-xxxhdpi-v4/ic_launcher.png"_s, 1}, // 55, 60
        {u"res/drawable-hdpi/icon_background.png res/drawable/ic_launcher_foreground.webp assets/icon.png "
         u"res/drawable/logo.png"_s,
         -1},
        {u"res/drawable-hdpi/app_icon.png res/drawable-hdpi/icon.webp"_s, 0}, // equal: the first listed
        {u"res/drawable-xhdpi/Icon.PNG res/mipmap-hdpi/launcher.png"_s, 0},   // 33 against 28
    };
    for (const auto& [names, best] : cases) {
        const QStringList entries = names.split(u' ');
        EXPECT_EQ(AppIconStore::bestEntry(entries), best < 0 ? std::nullopt : std::optional(entries[best]))
            << qPrintable(names);
    }

    const QUuid id = QUuid::createUuid();
    const std::optional<QByteArray> png =
        AppIconStore::loadIconData(id, fixture(u"densities"_s), MobilePlatform::android);
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(readFile(AppIconStore::cacheFile(id)), *png);
    EXPECT_TRUE(QFileInfo(AppIconStore::cacheFile(id))
                    .fileName()
                    .startsWith(id.toString(QUuid::WithoutBraces).toUpper()));
    EXPECT_EQ(AppIconStore::loadIconData(id, u"/nonexistent.apk"_s, MobilePlatform::android), png)
        << "the cache answers without the APK";
    const std::optional<QByteArray> fallback =
        AppIconStore::loadIconData(QUuid::createUuid(), fixture(u"fallback"_s), MobilePlatform::android);
    ASSERT_TRUE(fallback.has_value());
    EXPECT_EQ(QImage::fromData(*fallback).pixel(5, 5), qRgb(0x20, 0xA0, 0x20));
    EXPECT_FALSE(
        AppIconStore::loadIconData(QUuid::createUuid(), u"/nonexistent.apk"_s, MobilePlatform::android));
    EXPECT_TRUE(logText().contains(u"icon: resolved via resources.arsc for densities.apk"_s));
    EXPECT_TRUE(logText().contains(u"icon: res/mipmap-xxxhdpi-v4/ic_launcher.png from fallback.apk"_s));
    EXPECT_TRUE(logText().contains(u"icon: none found in nonexistent.apk"_s));

    std::atomic<int> calls = 0;
    AppIconStore store([&](const QUuid&, const QString& path, MobilePlatform) -> std::optional<QByteArray> {
        ++calls;
        QThread::msleep(50); // still running while asked again
        return path == u"missing"_s ? std::nullopt : png;
    });
    QSignalSpy arrived(&store, &AppIconStore::imagesChanged);
    const MobileApp found{.id = QUuid::createUuid(), .sourcePath = u"found"_s},
        missing{.id = QUuid::createUuid(), .sourcePath = u"missing"_s};
    EXPECT_FALSE(store.image(found).has_value());
    EXPECT_FALSE(store.image(found).has_value());
    EXPECT_FALSE(store.image(missing).has_value());
    ASSERT_TRUE(waitUntil([&] { return arrived.size() == 1 && calls == 2; }));
    EXPECT_EQ(arrived.first().first().value<QUuid>(), found.id);
    EXPECT_EQ(store.image(found).value_or(QImage()).pixel(96, 96), qRgba(0xC0, 0, 0, 0xFF));
    // A failed app is not tried again in this run.
    EXPECT_FALSE(store.image(missing).has_value());
    QCoreApplication::processEvents();
    QThread::msleep(100);
    EXPECT_EQ(calls, 2);
}
