// Both directions of the control socket: byte-exact messages out, the device-message reader in.
#include "sim/server/ControlMessage.h"

#include "StreamTestSupport.h"
#include "stream/DeviceMessageReader.h"
#include "stream/ScrcpyControl.h"

#include <QClipboard>
#include <QGuiApplication>
#include <future>

namespace {

using namespace ScrcpyControl;

QByteArray hex(const char* spaced) {
    return QByteArray::fromHex(spaced);
}

TEST(ScrcpyControlTest, MessagesAreByteExactWithLengthsCappedByBytes) {
    // 299 ASCII bytes, then é: only its first byte fits. A clipboard keeps 200000 bytes, a name 255.
    const QByteArray split = text(QString(299, u'a') + u"\u00e9"_s),
                     clipboard = setClipboard(QString(200001, u'z'), false, 7),
                     name = startApp(QString(300, u'p'));
    const std::pair<QByteArray, const char*> cases[] = {
        // type, action up, keycode 29 (A), repeat 0, meta ctrl + left ctrl
        {key(KeyAction::up, 29, 12288), "00 01 0000001d 00000000 00003000"},
        // type, down, pointer -2 (the generic finger), x 101 and y 200 rounded, screen 1080 x 2088,
        // full pressure while down, action button, buttons
        {touch(TouchAction::down, {100.6, 200.4}, {1080, 2088}),
         "02 00 fffffffffffffffe 00000065 000000c8 0438 0828 ffff 00000000 00000000"},
        {touch(TouchAction::up, {0, 0}, {1080, 2088}), // no pressure on release
         "02 01 fffffffffffffffe 00000000 00000000 0438 0828 0000 00000000 00000000"},
        {touch(TouchAction::move, {0, 0}, {1, 1}).mid(22, 2), "ffff"},
        // x -2 (rounded away from zero), y 1 (half rounds up), width clamped to 65535, height to 0
        {position({-1.6, 0.5}, {70000, -3}), "fffffffe 00000001 ffff 0000"},
        // x 10, y 20, screen, horizontal i16fp(-0.05) = -1638, vertical i16fp(0.0625) = 2048, buttons
        {scroll({10, 20}, {1080, 2088}, -0.05f, 0.0625f),
         "03 0000000a 00000014 0438 0828 f99a 0800 00000000"},
        {text(u"\u00e9"_s), "01 00000002 c3a9"},                   // é is two UTF-8 bytes
        {text(QString(400, u'x')).chopped(299), "01 0000012c 78"}, // the length is capped at 300
        {split.left(5) + split.mid(303), "01 0000012c 61 c3"},
        {clipboard.mid(10, 4) + clipboard.mid(200013), "00030d40 7a"},
        {name.left(2) + name.mid(256), "10 ff 70"},
        // sequence 2, paste, length 2, "hi"
        {setClipboard(u"hi"_s, true, 2), "09 0000000000000002 01 00000002 6869"},
        {setClipboard(QString(), false, 7).mid(9), "00 00000000"},
        {startApp(u"+a.b"_s), "10 04 2b612e62"},
        {resizeDisplay(1080, 2088), "15 0438 0828"},
        {resizeDisplay(-5, 70000), "15 0000 ffff"},
        {backDown() + backUp(), "0400 0401"},
        {getClipboard(CopyKey::copy) + getClipboard(CopyKey::cut), "0801 0802"},
        {resetVideo(), "11"},
    };
    for (const auto& [message, expected] : cases)
        EXPECT_EQ(message.toHex(' '), hex(expected).toHex(' ')) << expected;
}

TEST(ScrcpyControlTest, FixedPointRoundsTowardZeroAndSaturates) {
    // i16fp rounds toward zero (-0.05 is -1638, not -1639); u16fp truncates 65529.4.
    const std::tuple<float, int, int> fixedPoint[] = {
        {1.25f, 0x7fff, 0xffff}, {1.0f, 0x7fff, 0xffff}, {-1.0f, -32768, 0}, {-7.0f, -32768, 0},
        {-0.05f, -1638, 0},      {0.5f, 16384, 0x8000},  {-0.5f, -16384, 0}, {0.9999f, 32764, 65529}};
    for (const auto& [value, signedValue, unsignedValue] : fixedPoint) {
        EXPECT_EQ(i16fp(value), signedValue) << value;
        EXPECT_EQ(u16fp(value), unsignedValue) << value;
    }
}

// Writes `stream` into one end, closes it, and has the reader read the other end to its end.
TEST(DeviceMessageReaderTest, ReadsEveryTypeInOrderAndStopsWhereItMust) {
    const struct {
        QByteArray stream;
        DeviceMessages::End end;
        QStringList clipboards;
    } cases[] = {
        {ControlMessages::clipboard(u"first"_s) + ControlMessages::acknowledgement(2) + QByteArray(1, 2) +
             QByteArray("\x00\x07\x00\x03", 4) + "abc" +            // UHID output, 3 bytes
             QByteArray(1, 2) + QByteArray("\x00\x07\x00\x00", 4) + // UHID output, empty
             ControlMessages::clipboard({}) + ControlMessages::clipboard(u"caf\u00e9"_s),
         DeviceMessages::End::closed,
         {u"first"_s, QString(), u"caf\u00e9"_s}},
        // Invalid UTF-8 is replaced, not refused.
        {QByteArray(1, 0) + be32(3) + "a\xff" + "b", DeviceMessages::End::closed, {u"a\ufffdb"_s}},
        // An unknown type stops the reader before anything after it.
        {ControlMessages::clipboard(u"kept"_s) + QByteArray(1, 3) + ControlMessages::clipboard(u"never"_s),
         DeviceMessages::End::unknownType,
         {u"kept"_s}},
        // An oversized clipboard is not read; the largest allowed length is read like any other (here
        // it is cut short by the close).
        {QByteArray(1, 0) + be32(0x800000), DeviceMessages::End::oversized, {}},
        {QByteArray(1, 0) + be32(0x7fffff) + "abc", DeviceMessages::End::closed, {}},
        // Truncated messages end the reader.
        {QByteArray(1, 0) + QByteArray("\x00\x00", 2), DeviceMessages::End::closed, {}},
        {QByteArray(1, 1) + be32(1), DeviceMessages::End::closed, {}},
        {QByteArray(1, 2) + QByteArray("\x00\x01\x00\x09", 4) + "xy", DeviceMessages::End::closed, {}},
    };
    for (const auto& c : cases) {
        SocketPair pair;
        QStringList clipboards;
        auto reading = std::async(std::launch::async, [&] {
            return DeviceMessages::read(pair.local, [&](QString text) { clipboards.append(text); });
        });
        writeAll(pair.remote, c.stream);
        pair.closeRemote();
        EXPECT_EQ(reading.get(), c.end) << c.stream.toHex().toStdString();
        EXPECT_EQ(clipboards, c.clipboards) << c.stream.toHex().toStdString();
        ::close(pair.local);
    }
}

TEST(DeviceMessageReaderTest, TheAndroidClipboardReachesTheDesktopOnlyWhenItIsNewText) {
    auto log = freshLog();
    QClipboard* desktop = QGuiApplication::clipboard();
    desktop->setText(u"already here"_s);

    DeviceMessages::copyToDesktop(u"already here"_s, *log);
    DeviceMessages::copyToDesktop(QString(), *log);
    EXPECT_EQ(desktop->text(), u"already here"_s);
    // Five characters as a person counts them: e followed by a combining acute accent is one.
    DeviceMessages::copyToDesktop(u"cafe\u0301!"_s, *log);
    EXPECT_EQ(desktop->text(), u"cafe\u0301!"_s);
    EXPECT_EQ(logLines(*log), QStringList{u"Vantle: Android clipboard copied to Mac (5 chars)"_s});
}

} // namespace
