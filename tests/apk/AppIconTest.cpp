// Monograms and tiles, the file-name fallback, the cache file and the store's one attempt per run.
#include "apk/AppIcon.h"

#include "ApkBuilders.h"
#include "apk/AppIconStore.h"
#include "core/VantleLog.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <atomic>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The height of the white (text) pixels in the middle of a rendered tile.
int letterHeight(const QImage& tile) {
    int top = tile.height(), bottom = -1;
    for (int y = 0; y < tile.height(); ++y)
        for (int x = tile.width() / 4; x < 3 * tile.width() / 4; ++x) {
            const QColor c = QColor::fromRgba(tile.pixel(x, y));
            if (c.red() > 240 && c.green() > 240 && c.blue() > 240) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    return bottom - top;
}

MobileApp appAt(const QString& path) {
    MobileApp app;
    app.id = QUuid::createUuid();
    app.name = u"Test"_s;
    app.sourcePath = path;
    return app;
}

} // namespace

TEST(AppIcon, MonogramPaletteAndCornerRadius) {
    EXPECT_EQ(AppIcon::monogram(u"Signal Messenger"_s), u"SM"_s);
    EXPECT_EQ(AppIcon::monogram(u"k-9 mail"_s), u"K9"_s);
    EXPECT_EQ(AppIcon::monogram(u"F-Droid"_s), u"FD"_s);
    EXPECT_EQ(AppIcon::monogram(u"the_quick brown fox"_s), u"TQ"_s);
    EXPECT_EQ(AppIcon::monogram(u"  --  "_s), u"?"_s);
    EXPECT_EQ(AppIcon::monogram(QString()), u"?"_s);
    EXPECT_EQ(AppIcon::monogram(u"élan"_s), u"É"_s);

    // The hash starts at 7 and multiplies by 31 per character, wrapping at 32 bits; the colour is it mod 7.
    EXPECT_EQ(AppIcon::paletteIndex(QString()), 0);
    EXPECT_EQ(AppIcon::paletteIndex(u"a"_s), (7 * 31 + 'a') % 7);
    EXPECT_EQ(AppIcon::paletteIndex(u"ab"_s), 4);            // (7 * 31 + 97) * 31 + 98 = 9832
    EXPECT_EQ(AppIcon::paletteIndex(QString(200, u'z')), 0); // wraps at 32 bits (64 would give 5)

    EXPECT_DOUBLE_EQ(AppIcon::radius(64, u"pixel"_s), 32);
    EXPECT_DOUBLE_EQ(AppIcon::radius(64, u"oneui"_s), 0.32 * 64);
    EXPECT_DOUBLE_EQ(AppIcon::radius(64, u"ios"_s), 0.225 * 64);
    EXPECT_DOUBLE_EQ(AppIcon::radius(64, u"classic"_s), 15.04);
    EXPECT_DOUBLE_EQ(AppIcon::radius(64, u"something"_s), 15.04);
}

TEST(AppIcon, TilesAreDrawnRoundAndWithTheirLetters) {
    const QImage circle = AppIcon{u"Maps"_s, 128, std::nullopt, u"pixel"_s}.rendered();
    EXPECT_LT(qAlpha(circle.pixel(6, 6)), 60) << "a circle leaves the corner (almost) empty";
    EXPECT_EQ(qAlpha(circle.pixel(64, 20)), 255);
    const int one = letterHeight(AppIcon{u"W"_s, 128, std::nullopt, u"classic"_s}.rendered());
    const int two = letterHeight(AppIcon{u"W W"_s, 128, std::nullopt, u"classic"_s}.rendered());
    EXPECT_GT(one, two) << "one letter is drawn larger than two";
    EXPECT_GT(two, 20);

    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    const QImage withImage = AppIcon{u"Maps"_s, 128, red, u"ios"_s}.rendered();
    EXPECT_EQ(withImage.pixel(64, 64), QColor(Qt::red).rgba());
    EXPECT_EQ(qAlpha(withImage.pixel(1, 1)), 0) << "clipped to the rounded square";
}

TEST(IconFallback, ScoresNamesLikeLauncherIcons) {
    // The entries, and the index of the best (-1: none).
    const std::pair<QStringList, int> cases[] = {
        // 55 against 60
        {{u"res/mipmap-xxxhdpi-v4/ic_launcher_round.png"_s, u"res/mipmap-xxxhdpi-v4/ic_launcher.png"_s}, 1},
        {{u"res/drawable-hdpi/icon_background.png"_s, u"res/drawable/ic_launcher_foreground.webp"_s,
          u"assets/icon.png"_s, u"res/drawable/logo.png"_s},
         -1},
        // equal scores: the first listed
        {{u"res/drawable-hdpi/app_icon.png"_s, u"res/drawable-hdpi/icon.webp"_s}, 0},
        // 33 against 28
        {{u"res/drawable-xhdpi/Icon.PNG"_s, u"res/mipmap-hdpi/launcher.png"_s}, 0},
    };
    for (const auto& [entries, best] : cases)
        EXPECT_EQ(AppIconStore::bestEntry(entries), best < 0 ? std::nullopt : std::optional(entries[best]))
            << qPrintable(entries.join(u' '));
    EXPECT_EQ(AppIconStore::bestEntry(ApkBuilders::fixture(u"fallback"_s), MobilePlatform::android),
              u"res/mipmap-xxxhdpi-v4/ic_launcher.png"_s);
}

TEST(IconStore, LoadIconDataResolvesCachesAndFallsBack) {
    const QUuid id = QUuid::createUuid();
    const std::optional<QByteArray> png =
        AppIconStore::loadIconData(id, ApkBuilders::fixture(u"densities"_s), MobilePlatform::android);
    ASSERT_TRUE(png.has_value());
    QFile cache(AppIconStore::cacheFile(id));
    ASSERT_TRUE(cache.open(QIODevice::ReadOnly));
    EXPECT_EQ(cache.readAll(), *png);
    EXPECT_TRUE(QFileInfo(cache).fileName().startsWith(id.toString(QUuid::WithoutBraces).toUpper()));
    // The cache answers without the APK.
    EXPECT_EQ(AppIconStore::loadIconData(id, u"/nonexistent.apk"_s, MobilePlatform::android), png);

    const std::optional<QByteArray> fallback = AppIconStore::loadIconData(
        QUuid::createUuid(), ApkBuilders::fixture(u"fallback"_s), MobilePlatform::android);
    ASSERT_TRUE(fallback.has_value());
    EXPECT_EQ(QImage::fromData(*fallback).pixel(5, 5), qRgb(0x20, 0xA0, 0x20));
    EXPECT_FALSE(
        AppIconStore::loadIconData(QUuid::createUuid(), u"/nonexistent.apk"_s, MobilePlatform::android));
    const QString log = VantleLog::main().tail(20).value_or(QString());
    EXPECT_TRUE(log.contains(u"icon: resolved via resources.arsc for densities.apk"_s));
    EXPECT_TRUE(log.contains(u"icon: res/mipmap-xxxhdpi-v4/ic_launcher.png from fallback.apk"_s));
    EXPECT_TRUE(log.contains(u"icon: none found in nonexistent.apk"_s));
}

TEST(IconStore, OneAttemptPerAppPerRun) {
    std::atomic<int> calls = 0;
    QImage blue(8, 8, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    blue.save(&buffer, "PNG");
    AppIconStore store([&](const QUuid&, const QString& path, MobilePlatform) -> std::optional<QByteArray> {
        ++calls;
        QThread::msleep(50); // still running while asked again
        if (path == u"missing"_s) return std::nullopt;
        return png;
    });
    QSignalSpy arrived(&store, &AppIconStore::imagesChanged);
    const MobileApp found = appAt(u"found"_s), missing = appAt(u"missing"_s);
    EXPECT_FALSE(store.image(found).has_value());
    EXPECT_FALSE(store.image(found).has_value());
    EXPECT_FALSE(store.image(missing).has_value());
    ASSERT_TRUE(waitUntil([&] { return arrived.size() == 1 && calls == 2; }));
    EXPECT_EQ(arrived.first().first().value<QUuid>(), found.id);
    const std::optional<QImage> image = store.image(found);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->pixel(1, 1), QColor(Qt::blue).rgba());
    // A failed app is not tried again in this run.
    EXPECT_FALSE(store.image(missing).has_value());
    QCoreApplication::processEvents();
    QThread::msleep(100);
    EXPECT_EQ(calls, 2);
}
