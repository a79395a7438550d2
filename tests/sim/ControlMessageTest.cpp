// Byte-exact decoding of control messages, including partial and hostile input.
#include "sim/server/ControlMessage.h"

#include "sim/server/ServerOptions.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using ControlMessages::Decoded;

TEST(ControlMessageTest, DecodesEachFixedLayout) {
    // touch: type 2, down, pointer -2, x=101, y=200, 1080x2088, pressure 0xffff, buttons 0
    const QByteArray touch =
        QByteArray::fromHex("0200fffffffffffffffe00000065000000c804380828ffff0000000000000000");
    ASSERT_EQ(touch.size(), 32);
    Decoded d = ControlMessages::decode(touch.left(31));
    EXPECT_EQ(d.status, Decoded::needMore);
    d = ControlMessages::decode(touch);
    ASSERT_EQ(d.status, Decoded::complete);
    EXPECT_EQ(d.consumed, 32);
    EXPECT_EQ(d.message.type, ControlMessage::touch);
    EXPECT_EQ(d.message.x, 101);
    EXPECT_EQ(d.message.y, 200);
    EXPECT_EQ(d.message.screenWidth, 1080);
    EXPECT_EQ(d.message.screenHeight, 2088);
    EXPECT_EQ(d.message.pressure, 0xffff);

    d = ControlMessages::decode(QByteArray::fromHex("00010000001d0000000000003000"));
    ASSERT_EQ(d.status, Decoded::complete);
    EXPECT_EQ(d.consumed, 14);
    EXPECT_EQ(d.message.keycode, 29u);
    EXPECT_EQ(d.message.meta, 0x3000u);

    d = ControlMessages::decode(QByteArray::fromHex("1504380828"));
    EXPECT_EQ(d.message.width, 1080);
    EXPECT_EQ(d.message.height, 2088);
    d = ControlMessages::decode(QByteArray::fromHex("10") + QByteArray(1, 5) + "+a.bc");
    EXPECT_EQ(d.message.string, u"+a.bc"_s);
    EXPECT_EQ(d.consumed, 7);
}

TEST(ControlMessageTest, WaitsForWholeMessagesAndRejectsHostileOnes) {
    const QByteArray text = QByteArray::fromHex("0100000003") + "abc";
    for (qsizetype cut = 1; cut < text.size(); ++cut)
        EXPECT_EQ(ControlMessages::decode(text.left(cut)).status, Decoded::needMore);
    EXPECT_EQ(ControlMessages::decode(QByteArray::fromHex("01ffffffff")).status, Decoded::malformed);
    EXPECT_EQ(ControlMessages::decode(QByteArray::fromHex("09000000000000000100ffffffff")).status,
              Decoded::malformed);
    const Decoded unknown = ControlMessages::decode(QByteArray::fromHex("63"));
    EXPECT_EQ(unknown.status, Decoded::malformed);
    EXPECT_EQ(unknown.error, u"Unknown event type: 99"_s);
}

TEST(ControlMessageTest, DeviceMessagesAndServerOptions) {
    EXPECT_EQ(ControlMessages::clipboard(u"hi"_s), QByteArray::fromHex("00000000026869"));
    EXPECT_EQ(ControlMessages::acknowledgement(2), QByteArray::fromHex("010000000000000002"));
    QString error;
    const auto options = ServerOptions::parse(
        {u"5.0.1"_s, u"scid=0000abcd"_s, u"audio=false"_s, u"new_display=776x1448/320"_s}, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->socketName(), u"scrcpy_0000abcd"_s);
    EXPECT_FALSE(options->audio);
    EXPECT_EQ(options->width, 776);
    EXPECT_EQ(options->dpi, 320);
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"bogus=1"_s}, error));
    EXPECT_EQ(error, u"java.lang.IllegalArgumentException: Unknown server option: bogus"_s);
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"scid=zz"_s}, error));
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"new_display=99999x1/1"_s}, error));
}
