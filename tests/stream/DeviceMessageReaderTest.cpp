// The device-message reader on a socket pair: every message type, and the ways it must stop.
#include "stream/DeviceMessageReader.h"

#include "StreamTestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <future>

namespace {

QByteArray clipboardMessage(const QByteArray& utf8) {
    return QByteArray(1, 0) + be32(uint32_t(utf8.size())) + utf8;
}

// Writes `stream` into one end, closes it, and has the reader read the other end to its end.
TEST(DeviceMessageReaderTest, ReadsEveryTypeInOrderAndStopsWhereItMust) {
    const struct {
        QByteArray stream;
        DeviceMessages::End end;
        QStringList clipboards;
    } cases[] = {
        {clipboardMessage("first") + QByteArray(1, 1) + packetHeader(2, 0).left(8) + // acknowledgement of 2
             QByteArray(1, 2) + QByteArray("\x00\x07\x00\x03", 4) + "abc" +          // UHID output, 3 bytes
             QByteArray(1, 2) + QByteArray("\x00\x07\x00\x00", 4) +                  // UHID output, empty
             clipboardMessage("") + clipboardMessage("caf\xc3\xa9"),
         DeviceMessages::End::closed,
         {u"first"_s, QString(), u"caf\u00e9"_s}},
        // Invalid UTF-8 is replaced, not refused.
        {clipboardMessage("a\xff"
                          "b"),
         DeviceMessages::End::closed,
         {u"a\ufffdb"_s}},
        // An unknown type stops the reader before anything after it.
        {clipboardMessage("kept") + QByteArray(1, 3) + clipboardMessage("never"),
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
    EXPECT_EQ(countLines(*log, u"Vantle: Android clipboard"_s), 0);

    // Five characters as a person counts them: e followed by a combining acute accent is one.
    DeviceMessages::copyToDesktop(u"cafe\u0301!"_s, *log);
    EXPECT_EQ(desktop->text(), u"cafe\u0301!"_s);
    EXPECT_EQ(logLines(*log), QStringList{u"Vantle: Android clipboard copied to Mac (5 chars)"_s});
}

} // namespace
