// The display server's decoding of untrusted control messages and server options: partial and hostile
// input. What Vantle's encoders send is decoded end to end by the stream tests.
#include "sim/server/ControlMessage.h"

#include "sim/server/ServerOptions.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using ControlMessages::Decoded;

TEST(ControlMessageTest, WaitsForWholeMessagesAndRejectsHostileOnes) {
    const QByteArray text = QByteArray::fromHex("0100000003") + "abc";
    for (qsizetype cut = 1; cut < text.size(); ++cut)
        EXPECT_EQ(ControlMessages::decode(text.left(cut)).status, Decoded::needMore);
    EXPECT_EQ(ControlMessages::decode(text).consumed, 8);
    EXPECT_EQ(ControlMessages::decode(QByteArray::fromHex("01ffffffff")).status, Decoded::malformed);
    EXPECT_EQ(ControlMessages::decode(QByteArray::fromHex("09000000000000000100ffffffff")).status,
              Decoded::malformed);
    const Decoded unknown = ControlMessages::decode(QByteArray::fromHex("63"));
    EXPECT_EQ(unknown.status, Decoded::malformed);
    EXPECT_EQ(unknown.error, u"Unknown event type: 99"_s);
}

TEST(ControlMessageTest, ServerOptionsRefuseUnknownAndOutOfRangeValues) {
    QString error;
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"bogus=1"_s}, error));
    EXPECT_EQ(error, u"java.lang.IllegalArgumentException: Unknown server option: bogus"_s);
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"scid=zz"_s}, error));
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"new_display=99999x1/1"_s}, error));
}
