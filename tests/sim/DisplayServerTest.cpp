// The display server on raw sockets (what the stream tests' client does not read back) and its decoders.
#include "SimTestDevice.h"
#include "sim/server/ControlMessage.h"
#include "sim/server/ReplayFile.h"
#include "sim/server/ServerOptions.h"
#include "stream/ScrcpyControl.h"
#include "stream/SocketIO.h"

#include <QThread>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Packet {
    bool session = false;
    QSize size; // of a session packet
    QByteArray payload;
};

// The next packet of a video or audio stream (12-byte header, then the payload).
std::optional<Packet> nextPacket(int fd) {
    const std::optional<QByteArray> header = readExactly(fd, 12);
    if (!header) return std::nullopt;
    Packet p{bool(header->at(0) & 0x80), QSize(int(readBE(*header, 4)), int(readBE(*header, 8))), {}};
    if (p.session) return p;
    std::optional<QByteArray> payload = readExactly(fd, readBE(*header, 8));
    return payload ? std::optional(Packet{false, {}, *payload}) : std::nullopt;
}

// Reads packets from `fd` until `done` holds for one; false when the stream ended first.
bool pump(int fd, const std::function<bool(const Packet&)>& done, int limit = 200) {
    for (int i = 0; i < limit; ++i) {
        const std::optional<Packet> p = nextPacket(fd);
        if (!p || done(*p)) return p.has_value();
    }
    return false;
}

// The display server started as Vantle starts it, with its three connections accepted in order;
// every read gives up after 5 s.
struct StreamSession {
    explicit StreamSession(bool withAudio) {
        adb({u"reverse"_s, u"localabstract:scrcpy_00c0ffee"_s, u"tcp:%1"_s.arg(listener.port())});
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(adbPath(),
                     {u"-s"_s, u"emulator-5556"_s, u"shell"_s,
                      u"CLASSPATH=/data/local/tmp/scrcpy-server.jar"_s, u"app_process"_s, u"/"_s,
                      u"com.genymobile.scrcpy.Server"_s, u"5.0.1"_s, u"scid=00c0ffee"_s, u"log_level=info"_s,
                      withAudio ? u"audio_codec=raw"_s : u"audio=false"_s, u"video_bit_rate=2000000"_s,
                      u"max_fps=30"_s, u"new_display=320x640/160"_s, u"flex_display=true"_s,
                      u"vd_system_decorations=false"_s, u"clipboard_autosync=true"_s, u"power_on=false"_s});
        const timeval limit{5, 0};
        for (int* fd : {&video, &audio, &control}) {
            if (fd == &audio && !withAudio) continue;
            *fd = listener.accept(fd == &video ? 15 : 5);
            setsockopt(*fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        }
    }
    ~StreamSession() {
        for (int fd : {video, audio, control})
            if (fd >= 0) close(fd);
        server.waitForFinished(5000);
    }
    // The 4-byte codec id that opens a stream (after the 64-byte device name on the video socket).
    uint32_t codec(int fd) {
        const std::optional<QByteArray> header = readExactly(fd, fd == video ? 68 : 4);
        return header ? readBE(*header, header->size() - 4) : 0;
    }
    void send(const QByteArray& message) { ASSERT_TRUE(writeAll(control, message)); }
    QByteArray reply(int size) { return readExactly(control, size).value_or(QByteArray()); }
    LocalListener listener;
    QProcess server;
    int video = -1, audio = -1, control = -1;
};

QString resumed() {
    return shell(u"dumpsys activity activities | grep ResumedActivity"_s).text();
}

TEST_F(SimDeviceTest, DisplayServerStartsAppsAnswersClipboardAndEndsWithItsControlSocket) {
    StreamSession session(true);
    ASSERT_TRUE(session.video >= 0 && session.audio >= 0 && session.control >= 0);
    EXPECT_EQ(session.codec(session.video), 0x68323634u); // "h264"
    EXPECT_EQ(nextPacket(session.video).value_or(Packet()).size, QSize(320, 640));
    session.send(ScrcpyControl::startApp(u"+org.vantle.sim.notes"_s));
    int frames = 0;
    ASSERT_TRUE(pump(session.video, [&](const Packet& p) { return !p.payload.isEmpty() && ++frames >= 3; }));
    EXPECT_TRUE(resumed().contains(u"org.vantle.sim.notes/"_s));

    // Clipboard: set with a sequence is acknowledged; get answers with the device clipboard.
    session.send(ScrcpyControl::setClipboard(u"hello"_s, false, 5));
    EXPECT_EQ(session.reply(9), QByteArray::fromHex("010000000000000005"));
    session.send(ScrcpyControl::getClipboard(ScrcpyControl::CopyKey::copy));
    EXPECT_EQ(session.reply(10), QByteArray::fromHex("000000000568656c6c6f"));

    EXPECT_EQ(session.codec(session.audio), 0x00726177u); // "\0raw": 16-bit stereo PCM
    const std::optional<Packet> sound = nextPacket(session.audio);
    ASSERT_TRUE(sound && !sound->payload.isEmpty() && sound->payload.size() % 4 == 0);

    // Back on the app's first screen leaves it: the launcher is resumed.
    session.send(ScrcpyControl::backDown() + ScrcpyControl::backUp());
    QThread::msleep(100);
    EXPECT_TRUE(resumed().contains(u"launcher3"_s));
    // Closing the control socket ends the server cleanly.
    shutdown(session.control, SHUT_RDWR);
    ASSERT_TRUE(session.server.waitForFinished(5000));
    EXPECT_EQ(session.server.exitCode(), 0);

    SCOPED_TRACE("a malformed control message ends the server");
    StreamSession malformed(false);
    malformed.send(QByteArray::fromHex("63"));
    ASSERT_TRUE(malformed.server.waitForFinished(5000));
    EXPECT_TRUE(malformed.server.readAll().contains("Unknown event type: 99"));

    SCOPED_TRACE("injected codecs, then a recorded file replayed");
    control().setServerFault(u"videoCodecId"_s, 0x68323635);
    control().setServerFault(u"audioCodecId"_s, 0x6f707573);
    {
        StreamSession faulty(true);
        EXPECT_EQ(faulty.codec(faulty.video), 0x68323635u);
        EXPECT_EQ(faulty.codec(faulty.audio), 0x6f707573u); // "opus"
    }
    control().clearFaults();
    QTemporaryDir folder;
    const QString file = folder.filePath(u"replay.h264"_s);
    ASSERT_EQ(ReplayFile::create(file, 160, 320, 20), QString());
    control().setServerFault(u"replay"_s, file);
    StreamSession replay(false);
    replay.codec(replay.video);
    EXPECT_EQ(nextPacket(replay.video).value_or(Packet()).size, QSize(160, 320));
    // 45 packets from a file of 20 pictures: the file is played again from its start.
    frames = 0;
    EXPECT_TRUE(pump(
        replay.video, [&](const Packet& p) { return !p.payload.isEmpty() && ++frames >= 45; }, 100));
}

TEST(ControlMessageTest, WaitsForWholeMessagesAndRejectsHostileOnes) {
    const QByteArray text = QByteArray::fromHex("0100000003") + "abc";
    for (qsizetype cut = 1; cut < text.size(); ++cut)
        EXPECT_EQ(ControlMessages::decode(text.left(cut)).status, ControlMessages::Decoded::needMore);
    EXPECT_EQ(ControlMessages::decode(text).consumed, 8);
    EXPECT_EQ(ControlMessages::decode(QByteArray::fromHex("01ffffffff")).status,
              ControlMessages::Decoded::malformed);
    EXPECT_EQ(ControlMessages::decode(QByteArray::fromHex("09000000000000000100ffffffff")).status,
              ControlMessages::Decoded::malformed);
}

TEST(ControlMessageTest, ServerOptionsRefuseUnknownAndOutOfRangeValues) {
    QString error;
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"bogus=1"_s}, error));
    EXPECT_EQ(error, u"java.lang.IllegalArgumentException: Unknown server option: bogus"_s);
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"scid=zz"_s}, error));
    EXPECT_FALSE(ServerOptions::parse({u"5.0.1"_s, u"new_display=99999x1/1"_s}, error));
}

} // namespace
