// Where app windows open and how they resize: pure geometry and the shared panel size.
#include "windows/WindowPlacement.h"

#include "core/SettingsKeys.h"
#include "support/TestSupport.h"
#include "windows/VantleLayout.h"
#include "windows/WindowSizePreset.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QRectF screen(0, 0, 1440, 900);
const QRectF secondScreen(1440, 0, 1920, 1080);
const QSizeF size(390, 760);

QVariantMap record(double x, double y, bool pinned) {
    return {{u"x"_s, x}, {u"y"_s, y}, {u"w"_s, 390.0}, {u"h"_s, 760.0}, {u"pinned"_s, pinned}};
}
} // namespace

TEST(WindowPlacementTest, APinnedWindowReopensWhereItWasWhileThatPlaceIsOnAScreen) {
    EXPECT_EQ(WindowPlacement::initialFrame(record(1500, 40, true), size, {screen, secondScreen}, screen, {}),
              QRectF(1500, 40, 390, 760));
    // The second screen is gone: its place is off every screen.
    const QRectF anchor(600, 30, 80, 24);
    EXPECT_EQ(WindowPlacement::initialFrame(record(1500, 40, true), size, {screen}, screen, anchor),
              QRectF(600, 30, 390, 760));
    EXPECT_EQ(WindowPlacement::initialFrame(record(1500, 40, true), size, {screen}, screen, {}),
              QRectF(1440 - 390 - 12, 6, 390, 760));
    // A corner just inside the edge is not enough: 20 points of the window must be on screen.
    EXPECT_EQ(WindowPlacement::initialFrame(record(1430, 40, true), size, {screen}, screen, {}).topLeft(),
              QPointF(1440 - 390 - 12, 6));
}

TEST(WindowPlacementTest, AnUnpinnedWindowOpensUnderItsAnchorOrAtTheTopRight) {
    EXPECT_EQ(WindowPlacement::initialFrame(record(100, 100, false), size, {screen}, screen, {}).topLeft(),
              QPointF(1038, 6));
    const QRectF anchor(200, 300, 390, 760);
    EXPECT_EQ(WindowPlacement::initialFrame({}, size, {screen}, screen, anchor).topLeft(), QPointF(200, 300));
    EXPECT_EQ(WindowPlacement::initialFrame({}, size, {}, std::nullopt, {}).topLeft(), QPointF(0, 0));
}

TEST(WindowPlacementTest, ResizingKeepsTheTopEdgeAndStaysOnTheScreen) {
    EXPECT_EQ(WindowPlacement::resized(QRectF(100, 50, 390, 760), QSizeF(440, 956), screen),
              QRectF(100, 0, 440, 900)); // taller than the screen: cut, then moved up into it
    EXPECT_EQ(WindowPlacement::resized(QRectF(1200, 50, 390, 760), QSizeF(440, 600), screen),
              QRectF(1000, 50, 440, 600)); // pushed left to stay inside
    EXPECT_EQ(WindowPlacement::resized(QRectF(-30, 50, 390, 760), QSizeF(320, 456), screen),
              QRectF(0, 50, 320, 456));
}

TEST(WindowPlacementTest, TheDisplayFollowsTheVideoAreaInWholeBlocksOfEightPixels) {
    // A 300 × 460 window on a 2× screen: the video area is 300 × 424 points.
    EXPECT_EQ(WindowPlacement::displaySize(QSizeF(300, 424), 2.0), QSize(600, 848));
    EXPECT_EQ(WindowPlacement::displaySize(QSizeF(390, 724.45), 1.0), QSize(384, 720));
    EXPECT_EQ(WindowPlacement::displaySize(QSizeF(100, 500), 1.0), std::nullopt); // 96 wide
    EXPECT_EQ(WindowPlacement::displaySize(QSizeF(104, 500), 1.0), QSize(104, 496));
}

TEST(WindowPlacementTest, PresetsAndThePanelSize) {
    ASSERT_EQ(WindowSizePreset::all().size(), 9);

    ScopedSettings settings;
    EXPECT_EQ(VantleLayout::size(), QSizeF(390, 760));
    VantleLayout::setSize(QSizeF(420.4, 915.6));
    EXPECT_EQ(VantleSettings::readDouble(SettingsKeys::panelWidth.key()), 420.0);
    EXPECT_EQ(VantleLayout::size(), QSizeF(420, 916));
    VantleSettings::set(SettingsKeys::panelWidth, 279.0); // under the minimum: the default pair
    EXPECT_EQ(VantleLayout::size(), QSizeF(390, 760));
    VantleSettings::set(SettingsKeys::panelWidth, u"wide"_s);
    EXPECT_EQ(VantleLayout::size(), QSizeF(390, 760));
}
