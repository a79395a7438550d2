// The device-message reader on a socket pair: every message type, and the ways it must stop.
#include "stream/DeviceMessageReader.h"

#include "StreamTestSupport.h"
#include "stream/SocketIO.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <future>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct ReaderRun {
    DeviceMessages::End end;
    QStringList clipboards;
};

// Writes `stream` into one end, closes it and reads the other end to its end.
ReaderRun readAll(const QByteArray& stream) {
    SocketPair pair;
    auto reading = std::async(std::launch::async, [&pair] {
        ReaderRun run{};
        run.end = DeviceMessages::read(pair.local, [&run](QString text) { run.clipboards.append(text); });
        return run;
    });
    writeAll(pair.remote, stream);
    pair.closeRemote();
    ReaderRun run = reading.get();
    ::close(pair.local);
    return run;
}

QByteArray clipboardMessage(const QByteArray& utf8) {
    return QByteArray(1, 0) + be32(uint32_t(utf8.size())) + utf8;
}

TEST(DeviceMessageReaderTest, ReadsEveryTypeInOrderUntilTheSocketCloses) {
    const QByteArray stream =
        clipboardMessage("first") + QByteArray(1, 1) + be64(2) +       // acknowledgement of sequence 2
        QByteArray(1, 2) + QByteArray("\x00\x07\x00\x03", 4) + "abc" + // UHID output, 3 bytes
        QByteArray(1, 2) + QByteArray("\x00\x07\x00\x00", 4) +         // UHID output, empty
        clipboardMessage("") + clipboardMessage("caf\xc3\xa9");
    const ReaderRun run = readAll(stream);
    EXPECT_EQ(run.end, DeviceMessages::End::closed);
    EXPECT_EQ(run.clipboards, (QStringList{u"first"_s, QString(), u"caf\u00e9"_s}));
}

TEST(DeviceMessageReaderTest, InvalidUTF8IsReplacedNotRefused) {
    const ReaderRun run = readAll(clipboardMessage("a\xff"
                                                   "b"));
    ASSERT_EQ(run.clipboards.size(), 1);
    EXPECT_EQ(run.clipboards[0], u"a\ufffdb"_s);
}

TEST(DeviceMessageReaderTest, AnUnknownTypeStopsTheReaderBeforeAnythingAfterIt) {
    const ReaderRun run = readAll(clipboardMessage("kept") + QByteArray(1, 3) + clipboardMessage("never"));
    EXPECT_EQ(run.end, DeviceMessages::End::unknownType);
    EXPECT_EQ(run.clipboards, QStringList{u"kept"_s});
}

TEST(DeviceMessageReaderTest, AnOversizedClipboardStopsTheReaderWithoutReadingIt) {
    EXPECT_EQ(readAll(QByteArray(1, 0) + be32(0x800000)).end, DeviceMessages::End::oversized);
    // The largest allowed length is read like any other (here it is cut short by the close).
    EXPECT_EQ(readAll(QByteArray(1, 0) + be32(0x7fffff) + "abc").end, DeviceMessages::End::closed);
}

TEST(DeviceMessageReaderTest, TruncatedMessagesEndTheReader) {
    for (const QByteArray& stream : {QByteArray(1, 0) + QByteArray("\x00\x00", 2), QByteArray(1, 1) + be32(1),
                                     QByteArray(1, 2) + QByteArray("\x00\x01\x00\x09", 4) + "xy"}) {
        const ReaderRun run = readAll(stream);
        EXPECT_EQ(run.end, DeviceMessages::End::closed);
        EXPECT_TRUE(run.clipboards.isEmpty());
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
