// Byte-exact control messages: what the display server's reader must see.
#include "stream/ScrcpyControl.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScrcpyControl;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int value : values)
        out.append(char(value));
    return out;
}

TEST(ScrcpyControlTest, KeyCarriesActionKeycodeZeroRepeatAndMeta) {
    EXPECT_EQ(key(KeyAction::up, 29, 12288),
              bytes({
                  0x00,                   // inject key code
                  0x01,                   // action up
                  0x00, 0x00, 0x00, 0x1d, // keycode 29 (A)
                  0x00, 0x00, 0x00, 0x00, // repeat 0
                  0x00, 0x00, 0x30, 0x00, // meta 0x3000 (ctrl + left ctrl)
              }));
}

TEST(ScrcpyControlTest, TouchRoundsThePositionAndSetsPressureByAction) {
    EXPECT_EQ(touch(TouchAction::down, {100.6, 200.4}, {1080, 2088}),
              bytes({
                  0x02,                                           // inject touch
                  0x00,                                           // action down
                  0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe, // pointer id -2, the generic finger
                  0x00, 0x00, 0x00, 0x65,                         // x 101 (100.6 rounded)
                  0x00, 0x00, 0x00, 0xc8,                         // y 200 (200.4 rounded)
                  0x04, 0x38,                                     // screen width 1080
                  0x08, 0x28,                                     // screen height 2088
                  0xff, 0xff,                                     // pressure: full while down
                  0x00, 0x00, 0x00, 0x00,                         // action button
                  0x00, 0x00, 0x00, 0x00,                         // buttons
              }));
    const QByteArray up = touch(TouchAction::up, {0, 0}, {1080, 2088});
    ASSERT_EQ(up.size(), 32);
    EXPECT_EQ(up.mid(1, 1), bytes({0x01}));        // action up
    EXPECT_EQ(up.mid(22, 2), bytes({0x00, 0x00})); // no pressure on release
    EXPECT_EQ(touch(TouchAction::move, {0, 0}, {1, 1}).mid(22, 2), bytes({0xff, 0xff}));
}

TEST(ScrcpyControlTest, PositionTruncatesTheScreenSizeAndKeepsNegativeCoordinates) {
    EXPECT_EQ(position({-1.6, 0.5}, {70000, -3}), bytes({
                                                      0xff, 0xff, 0xff, 0xfe, // x -2 (rounded away from zero)
                                                      0x00, 0x00, 0x00, 0x01, // y 1 (half rounds up)
                                                      0xff, 0xff,             // width clamped to 65535
                                                      0x00, 0x00,             // height clamped to 0
                                                  }));
}

TEST(ScrcpyControlTest, ScrollIsFixedPointAndSaturates) {
    EXPECT_EQ(scroll({10, 20}, {1080, 2088}, -0.05f, 0.0625f),
              bytes({
                  0x03,                   // inject scroll
                  0x00, 0x00, 0x00, 0x0a, // x 10
                  0x00, 0x00, 0x00, 0x14, // y 20
                  0x04, 0x38, 0x08, 0x28, // screen 1080 x 2088
                  0xf9, 0x9a,             // horizontal i16fp(-0.05) = -1638 = 0xf99a
                  0x08, 0x00,             // vertical i16fp(0.0625) = 2048
                  0x00, 0x00, 0x00, 0x00, // buttons
              }));
    // i16fp rounds toward zero (-0.05 is -1638, not -1639); u16fp truncates 65529.4.
    const std::tuple<float, int, int> fixedPoint[] = {
        {1.25f, 0x7fff, 0xffff}, {1.0f, 0x7fff, 0xffff}, {-1.0f, -32768, 0}, {-7.0f, -32768, 0},
        {-0.05f, -1638, 0},      {0.5f, 16384, 0x8000},  {-0.5f, -16384, 0}, {0.9999f, 32764, 65529}};
    for (const auto& [value, signedValue, unsignedValue] : fixedPoint) {
        EXPECT_EQ(i16fp(value), signedValue) << value;
        EXPECT_EQ(u16fp(value), unsignedValue) << value;
    }
}

TEST(ScrcpyControlTest, TextLimitsCountUTF8BytesAndMayCutACharacter) {
    EXPECT_EQ(text(u"\u00e9"_s), bytes({0x01, 0x00, 0x00, 0x00, 0x02, 0xc3, 0xa9})); // é is two bytes
    const QByteArray cut = text(QString(400, u'x'));
    EXPECT_EQ(cut.size(), 5 + 300);
    EXPECT_EQ(cut.mid(1, 4), bytes({0x00, 0x00, 0x01, 0x2c})); // 300
    // 299 ASCII bytes, then é: only its first byte fits.
    const QByteArray split = text(QString(299, u'a') + u"\u00e9"_s);
    EXPECT_EQ(split.size(), 305);
    EXPECT_EQ(uint8_t(split.back()), 0xc3);
}

TEST(ScrcpyControlTest, SetClipboardCarriesSequencePasteAndLength) {
    EXPECT_EQ(setClipboard(u"hi"_s, true, 2),
              bytes({
                  0x09,                                           // set clipboard
                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, // sequence 2
                  0x01,                                           // paste
                  0x00, 0x00, 0x00, 0x02,                         // length 2
                  'h', 'i',                                       // the text
              }));
    EXPECT_EQ(setClipboard(QString(200001, u'z'), false, 7).size(), 14 + 200000);
    EXPECT_EQ(setClipboard(QString(), false, 7).mid(9), bytes({0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(ScrcpyControlTest, StartAppHasAOneByteLengthCappedAt255) {
    EXPECT_EQ(startApp(u"+a.b"_s), bytes({0x10, 0x04, '+', 'a', '.', 'b'}));
    const QByteArray capped = startApp(QString(300, u'p'));
    EXPECT_EQ(capped.size(), 2 + 255);
    EXPECT_EQ(uint8_t(capped.at(1)), 255);
}

TEST(ScrcpyControlTest, ResizeClampsEachSide) {
    EXPECT_EQ(resizeDisplay(1080, 2088), bytes({0x15, 0x04, 0x38, 0x08, 0x28}));
    EXPECT_EQ(resizeDisplay(-5, 70000), bytes({0x15, 0x00, 0x00, 0xff, 0xff}));
}

TEST(ScrcpyControlTest, FixedMessages) {
    EXPECT_EQ(backDown(), bytes({0x04, 0x00}));
    EXPECT_EQ(backUp(), bytes({0x04, 0x01}));
    EXPECT_EQ(getClipboard(CopyKey::copy), bytes({0x08, 0x01}));
    EXPECT_EQ(getClipboard(CopyKey::cut), bytes({0x08, 0x02}));
    EXPECT_EQ(resetVideo(), bytes({0x11}));
}

} // namespace
