// Display-server sessions as Vantle's stream client runs them: jar push, reverse tunnel, the
// 18-argument start, three connections in order, then the byte streams, decoded with libavcodec.
#include "SimTestDevice.h"
#include "sim/SimControl.h"
#include "sim/server/ReplayFile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr uint32_t scid = 0x00c0ffee;

bool readExactly(int fd, char* data, size_t count, int timeoutMs = 5000) {
    size_t done = 0;
    while (done < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        const ssize_t n = read(fd, data + done, count - done);
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

uint64_t be(const QByteArray& bytes, int offset, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | uint8_t(bytes[offset + i]);
    return value;
}

void putBE(QByteArray& bytes, uint64_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xff));
}

struct Packet {
    bool session = false, config = false, key = false;
    int width = 0, height = 0;
    QByteArray payload;
};

// Decodes the video stream's Annex B packets and keeps the last picture's luma plane.
struct Decoder {
    AVCodecContext* context = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    int width = 0, height = 0, frames = 0;
    QByteArray luma;
    Decoder() {
        av_log_set_level(AV_LOG_FATAL);
        reset();
    }
    ~Decoder() {
        avcodec_free_context(&context);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
    void reset() {
        avcodec_free_context(&context);
        context = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        avcodec_open2(context, avcodec_find_decoder(AV_CODEC_ID_H264), nullptr);
    }
    bool feed(const QByteArray& bytes) {
        packet->data = reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.constData()));
        packet->size = int(bytes.size());
        if (avcodec_send_packet(context, packet) < 0) return false;
        while (avcodec_receive_frame(context, frame) == 0) {
            ++frames;
            width = frame->width;
            height = frame->height;
            luma.resize(qsizetype(width) * height);
            for (int y = 0; y < height; ++y)
                memcpy(luma.data() + qsizetype(y) * width, frame->data[0] + y * frame->linesize[0],
                       size_t(width));
        }
        return true;
    }
    int lumaAt(int x, int y) const { return uint8_t(luma[qsizetype(y) * width + x]); }
};

class StreamSession {
public:
    StreamSession(SimTestDevice& device, bool audio, const QStringList& extra = {})
        : m_device(device) {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, 4);
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        const QString name = u"scrcpy_%1"_s.arg(uint(scid), 8, 16, QChar(u'0'));
        device.adb({u"reverse"_s, u"localabstract:"_s + name, u"tcp:%1"_s.arg(ntohs(address.sin_port))});
        server.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{u"-s"_s,
                              u"emulator-5556"_s,
                              u"shell"_s,
                              u"CLASSPATH=/data/local/tmp/scrcpy-server.jar"_s,
                              u"app_process"_s,
                              u"/"_s,
                              u"com.genymobile.scrcpy.Server"_s,
                              u"5.0.1"_s,
                              u"scid=%1"_s.arg(uint(scid), 8, 16, QChar(u'0')),
                              u"log_level=info"_s,
                              audio ? u"audio_codec=raw"_s : u"audio=false"_s,
                              u"video_bit_rate=2000000"_s,
                              u"max_fps=30"_s,
                              u"new_display=320x640/160"_s,
                              u"flex_display=true"_s,
                              u"vd_system_decorations=false"_s,
                              u"clipboard_autosync=true"_s,
                              u"power_on=false"_s};
        server.start(device.adbPath(), arguments + extra);
    }
    ~StreamSession() {
        for (int fd : {video, audio, control, m_listener})
            if (fd >= 0) close(fd);
        server.waitForFinished(5000);
    }
    bool connect(bool withAudio) {
        video = accept(15000);
        if (withAudio) audio = accept(5000);
        control = accept(5000);
        return video >= 0 && control >= 0 && (!withAudio || audio >= 0);
    }
    bool readHeader(uint32_t& codec) {
        QByteArray header(68, '\0');
        if (!readExactly(video, header.data(), 68)) return false;
        codec = uint32_t(be(header, 64, 4));
        return true;
    }
    std::optional<Packet> next(int fd = -1) {
        QByteArray header(12, '\0');
        if (!readExactly(fd < 0 ? video : fd, header.data(), 12)) return std::nullopt;
        Packet p;
        const uint8_t first = uint8_t(header[0]);
        p.session = first & 0x80;
        if (p.session) {
            p.width = int(be(header, 4, 4));
            p.height = int(be(header, 8, 4));
            return p;
        }
        p.config = first & 0x40;
        p.key = first & 0x20;
        p.payload.resize(qsizetype(be(header, 8, 4)));
        if (!readExactly(fd < 0 ? video : fd, p.payload.data(), size_t(p.payload.size())))
            return std::nullopt;
        return p;
    }
    // Reads and decodes packets until `done` holds or `limit` packets went by.
    bool pump(Decoder& decoder, const std::function<bool(const Packet&)>& done, int limit = 200) {
        for (int i = 0; i < limit; ++i) {
            const std::optional<Packet> p = next();
            if (!p) return false;
            if (p->session)
                decoder.reset();
            else
                decoder.feed(p->payload);
            if (done(*p)) return true;
        }
        return false;
    }
    void send(const QByteArray& message) {
        ASSERT_EQ(write(control, message.constData(), size_t(message.size())), message.size());
    }

    QProcess server;
    int video = -1, audio = -1, control = -1;

private:
    int accept(int timeoutMs) {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return -1;
        return ::accept(m_listener, nullptr, nullptr);
    }
    SimTestDevice& m_device;
    int m_listener = -1;
};

QByteArray startApp(const QString& name) {
    QByteArray m(1, char(16));
    m.append(char(name.toUtf8().size()));
    return m + name.toUtf8();
}

QByteArray touch(uint8_t action, int x, int y, int width, int height) {
    QByteArray m(1, char(2));
    m.append(char(action));
    putBE(m, 0xFFFFFFFFFFFFFFFEull, 8);
    putBE(m, uint32_t(x), 4);
    putBE(m, uint32_t(y), 4);
    putBE(m, uint64_t(width), 2);
    putBE(m, uint64_t(height), 2);
    putBE(m, action == 1 ? 0 : 0xFFFF, 2);
    putBE(m, 0, 8);
    return m;
}

class DisplayServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        device = new SimTestDevice();
        ASSERT_TRUE(device->start());
        const AdbResult install =
            device->adb({u"install"_s, u"-r"_s, SimTestDevice::dataFile(u"notes.apk"_s)});
        ASSERT_EQ(install.status, 0);
        ASSERT_EQ(device
                      ->adb({u"push"_s, SimTestDevice::dataFile(u"notes.apk"_s),
                             u"/data/local/tmp/scrcpy-server.jar"_s})
                      .status,
                  0);
    }
    static void TearDownTestSuite() {
        delete device;
        device = nullptr;
    }
    void TearDown() override { SimControl(device->runtime(), 35).clearFaults(); }
    static SimTestDevice* device;
};
SimTestDevice* DisplayServerTest::device = nullptr;

TEST_F(DisplayServerTest, FullSessionFollowsInputResizeResetAndClipboard) {
    StreamSession session(*device, true);
    ASSERT_TRUE(session.connect(true));
    uint32_t codec = 0;
    ASSERT_TRUE(session.readHeader(codec));
    EXPECT_EQ(codec, 0x68323634u);
    std::optional<Packet> first = session.next();
    ASSERT_TRUE(first && first->session);
    EXPECT_EQ(first->width, 320);
    EXPECT_EQ(first->height, 640);
    std::optional<Packet> config = session.next();
    ASSERT_TRUE(config && config->config);
    Decoder decoder;
    decoder.feed(config->payload);
    session.send(startApp(u"+org.vantle.sim.notes"_s));
    ASSERT_TRUE(session.pump(decoder, [&](const Packet&) { return decoder.frames >= 3; }));
    EXPECT_EQ(decoder.width, 320);
    EXPECT_EQ(decoder.height, 640);
    QByteArray output = session.server.readAll();
    while (!output.contains("(id=") && session.server.waitForReadyRead(2000))
        output += session.server.readAll();
    EXPECT_TRUE(output.contains("(id=")) << output.constData();
    EXPECT_TRUE(device->shell(u"dumpsys activity activities | grep ResumedActivity"_s)
                    .text()
                    .contains(u"org.vantle.sim.notes/"_s));

    // A touch leaves a dark mark on the next frames; elsewhere the app's colour stays.
    session.send(touch(0, 100, 400, 320, 640));
    session.send(touch(1, 100, 400, 320, 640));
    ASSERT_TRUE(session.pump(
        decoder, [&](const Packet&) { return decoder.frames > 8 && decoder.lumaAt(100, 400) < 60; }));
    EXPECT_GT(decoder.lumaAt(300, 600), 70);

    // Resize: a new session packet, new parameter sets, frames at the new size.
    QByteArray resize(1, char(21));
    putBE(resize, 240, 2);
    putBE(resize, 480, 2);
    session.send(resize);
    bool sawSession = false;
    ASSERT_TRUE(session.pump(decoder, [&](const Packet& p) {
        if (p.session) sawSession = p.width == 240 && p.height == 480;
        return sawSession && decoder.width == 240 && decoder.height == 480;
    }));

    // Reset video: a key frame soon.
    ASSERT_TRUE(session.pump(decoder, [&](const Packet& p) { return !p.key && !p.config && !p.session; }));
    session.send(QByteArray(1, char(17)));
    int untilKey = 0;
    ASSERT_TRUE(session.pump(
        decoder, [&](const Packet& p) { return ++untilKey, p.key; }, 20));
    EXPECT_LE(untilKey, 5);

    // Clipboard: set with a sequence is acknowledged; get answers with the device clipboard.
    QByteArray set(1, char(9));
    putBE(set, 5, 8);
    set.append(char(0));
    putBE(set, 5, 4);
    set.append("hello");
    session.send(set);
    QByteArray ack(9, '\0');
    ASSERT_TRUE(readExactly(session.control, ack.data(), 9));
    EXPECT_EQ(ack, QByteArray::fromHex("010000000000000005"));
    session.send(QByteArray::fromHex("0801"));
    QByteArray clip(10, '\0');
    ASSERT_TRUE(readExactly(session.control, clip.data(), 10));
    EXPECT_EQ(clip, QByteArray::fromHex("000000000568656c6c6f"));
    // A clipboard changed on the device arrives on its own (autosync).
    ASSERT_EQ(SimControl(device->runtime(), 35).setClipboard(u"from android"_s), QString());
    QByteArray synced(17, '\0');
    ASSERT_TRUE(readExactly(session.control, synced.data(), 17));
    EXPECT_EQ(synced.mid(5), "from android");

    // Audio: raw 48 kHz stereo PCM carrying a 440 Hz tone.
    QByteArray audioCodec(4, '\0');
    ASSERT_TRUE(readExactly(session.audio, audioCodec.data(), 4));
    EXPECT_EQ(audioCodec, QByteArray("\0raw", 4));
    int crossings = 0, frames = 0;
    int16_t previous = 0;
    for (int i = 0; i < 10; ++i) {
        const std::optional<Packet> p = session.next(session.audio);
        ASSERT_TRUE(p && !p->payload.isEmpty());
        const auto* samples = reinterpret_cast<const int16_t*>(p->payload.constData());
        for (qsizetype s = 0; s + 1 < p->payload.size() / 2; s += 2, ++frames) {
            EXPECT_EQ(samples[s], samples[s + 1]);
            if ((previous < 0) != (samples[s] < 0)) ++crossings;
            previous = samples[s];
        }
    }
    const double hz = crossings / 2.0 / (frames / 48000.0);
    EXPECT_NEAR(hz, 440.0, 30.0);

    // Back on the app's first screen leaves it: the launcher is resumed.
    session.send(QByteArray::fromHex("0400"));
    session.send(QByteArray::fromHex("0401"));
    QThread::msleep(100);
    EXPECT_TRUE(device->shell(u"dumpsys activity activities | grep ResumedActivity"_s)
                    .text()
                    .contains(u"launcher3"_s));

    bool touchRecorded = false;
    for (const QJsonObject& event : SimControl(device->runtime(), 35).received())
        touchRecorded |= event.value(u"type"_s) == u"control"_s && event.value(u"message"_s).toInt() == 2 &&
                         event.value(u"x"_s).toInt() == 100;
    EXPECT_TRUE(touchRecorded);

    // Closing the control socket ends the server cleanly.
    shutdown(session.control, SHUT_RDWR);
    ASSERT_TRUE(session.server.waitForFinished(5000));
    EXPECT_EQ(session.server.exitCode(), 0);
}

TEST_F(DisplayServerTest, RefusesWrongVersionMissingJarAndMalformedControl) {
    QProcess wrong;
    wrong.start(device->adbPath(),
                {u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"CLASSPATH=/data/local/tmp/scrcpy-server.jar"_s,
                 u"app_process"_s, u"/"_s, u"com.genymobile.scrcpy.Server"_s, u"4.0"_s, u"scid=00000001"_s});
    ASSERT_TRUE(wrong.waitForFinished());
    EXPECT_EQ(wrong.exitCode(), 1);
    EXPECT_TRUE(
        wrong.readAllStandardError().contains("The server version (5.0.1) does not match the client (4.0)"));

    QProcess missing;
    missing.start(device->adbPath(),
                  {u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"CLASSPATH=/data/local/tmp/none.jar"_s,
                   u"app_process"_s, u"/"_s, u"com.genymobile.scrcpy.Server"_s, u"5.0.1"_s});
    ASSERT_TRUE(missing.waitForFinished());
    EXPECT_EQ(missing.exitCode(), 1);
    EXPECT_TRUE(missing.readAllStandardError().contains("ClassNotFoundException"));

    StreamSession session(*device, false);
    ASSERT_TRUE(session.connect(false));
    session.send(QByteArray::fromHex("63"));
    ASSERT_TRUE(session.server.waitForFinished(5000));
    EXPECT_TRUE(session.server.readAll().contains("Unknown event type: 99"));
}

TEST_F(DisplayServerTest, InjectedFaults) {
    SimControl control(device->runtime(), 35);
    control.setServerFault(u"videoCodecId"_s, 0x68323635);
    control.setServerFault(u"audioCodecId"_s, 0x6f707573);
    {
        StreamSession session(*device, true);
        ASSERT_TRUE(session.connect(true));
        uint32_t codec = 0;
        ASSERT_TRUE(session.readHeader(codec));
        EXPECT_EQ(codec, 0x68323635u);
        QByteArray audioCodec(4, '\0');
        ASSERT_TRUE(readExactly(session.audio, audioCodec.data(), 4));
        EXPECT_EQ(audioCodec, "opus");
        shutdown(session.control, SHUT_RDWR);
    }
    control.clearFaults();
    control.setServerFault(u"dieAfterFrames"_s, 3);
    StreamSession session(*device, false);
    ASSERT_TRUE(session.connect(false));
    uint32_t codec = 0;
    ASSERT_TRUE(session.readHeader(codec));
    int media = 0;
    while (const std::optional<Packet> p = session.next())
        if (!p->session && !p->config) ++media;
    EXPECT_EQ(media, 3);
    ASSERT_TRUE(session.server.waitForFinished(5000));
    EXPECT_EQ(session.server.exitCode(), 1);
}

TEST_F(DisplayServerTest, ReplayStreamsARecordedFile) {
    QTemporaryDir folder;
    const QString file = folder.filePath(u"replay.h264"_s);
    ASSERT_EQ(ReplayFile::create(file, 160, 320, 20), QString());
    SimControl(device->runtime(), 35).setServerFault(u"replay"_s, file);
    StreamSession session(*device, false);
    ASSERT_TRUE(session.connect(false));
    uint32_t codec = 0;
    ASSERT_TRUE(session.readHeader(codec));
    Decoder decoder;
    ASSERT_TRUE(session.pump(
        decoder, [&](const Packet&) { return decoder.frames >= 45; }, 100));
    EXPECT_EQ(decoder.width, 160);
    EXPECT_EQ(decoder.height, 320);
    shutdown(session.control, SHUT_RDWR);
}

} // namespace
