// The simulated emulator's adbd and console driven by Google's adb (Debian's build) directly, in
// the network namespace of this test program (support/AndroidTestMain.cpp). Skipped on a machine
// without Google's adb.
#include "SimTestDevice.h"
#include "sim/SimControl.h"
#include "sim/SimInstaller.h"
#include "sim/adbd/AdbMessage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace std::string_literals;

namespace {

const QString googleAdb = u"/usr/bin/adb"_s;

AdbResult realAdb(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(googleAdb, arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    AdbResult result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// The device with adbd on: booted, and listed by the adb server as "device".
class RealAdbTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (SimInstaller::googleAdb().isEmpty()) GTEST_SKIP() << "Google's adb is not installed";
        ASSERT_TRUE(device.start(false));
        const AdbResult waited = realAdb({u"-s"_s, u"emulator-5556"_s, u"wait-for-device"_s});
        ASSERT_EQ(waited.status, 0) << waited.err.constData();
    }

    SimTestDevice device;
};

// Before the boot completes adbd does not answer the server's CNXN: listed offline, as a real
// emulator whose guest adbd is not up yet.
TEST(RealAdbBootTest, ListsTheEmulatorOfflineUntilTheBootCompletes) {
    if (SimInstaller::googleAdb().isEmpty()) GTEST_SKIP() << "Google's adb is not installed";
    SimTestDevice device;
    // A first boot lays out the device's data, where the fault is kept.
    ASSERT_TRUE(device.start(false));
    ASSERT_EQ(realAdb({u"-s"_s, u"emulator-5556"_s, u"wait-for-device"_s}).status, 0);
    device.kill();
    SimControl control(device.runtime(), 35);
    ASSERT_EQ(control.setFault(u"bootNeverCompletes"_s, true), QString());
    ASSERT_TRUE(device.start(false));
    QString listing;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired() && !listing.contains(u"offline"_s);
         QThread::msleep(50))
        listing = realAdb({u"devices"_s}).text();
    EXPECT_EQ(listing, u"List of devices attached\nemulator-5556\toffline\n\n"_s);
    const AdbResult early = realAdb({u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"true"_s});
    EXPECT_EQ(early.status, 1);
    EXPECT_EQ(early.err, "error: device offline\n");

    ASSERT_EQ(control.setFault(u"bootNeverCompletes"_s, false), QString());
    EXPECT_EQ(realAdb({u"-s"_s, u"emulator-5556"_s, u"wait-for-device"_s}).status, 0);
    EXPECT_EQ(realAdb({u"devices"_s}).text(), u"List of devices attached\nemulator-5556\tdevice\n\n"_s);
}

TEST_F(RealAdbTest, ListsTheEmulatorAsDevice) {
    const AdbResult listed = realAdb({u"devices"_s});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.text(), u"List of devices attached\nemulator-5556\tdevice\n\n"_s);
    const AdbResult longForm = realAdb({u"devices"_s, u"-l"_s});
    EXPECT_TRUE(longForm.text().contains(
        u"device product:sdk_gphone64_x86_64 model:sdk_gphone64_x86_64 device:emu64x transport_id:"_s))
        << longForm.out.constData();
}

TEST_F(RealAdbTest, ShellKeepsStreamsApartAndReportsTheExitStatus) {
    struct Case {
        QStringList arguments;
        QByteArray input;
        int status;
        QByteArray out, err;
    };
    const Case cases[] = {
        {{u"shell"_s, u"echo out; echo err >&2; exit 3"_s}, {}, 3, "out\n", "err\n"},
        {{u"shell"_s, u"true"_s}, {}, 0, "", ""},
        {{u"shell"_s, u"echo"_s, u"two words"_s}, {}, 0, "two words\n", ""},
        {{u"shell"_s, u"cat; echo done"_s}, "typed\n", 0, "typed\ndone\n", ""},
        {{u"shell"_s, u"kill -9 $$"_s}, {}, 137, "", ""},
        // The program exits without reading what is still coming for its stdin.
        {{u"shell"_s, u"true"_s}, QByteArray(4 << 20, 'x'), 0, "", ""},
        // exec-out has no shell protocol: one stream, no status (adb exits 0).
        {{u"exec-out"_s, u"echo out; echo err >&2; exit 3"_s}, {}, 0, "out\nerr\n", ""},
        // The legacy service is what clients without shell_v2 use.
        {{u"shell"_s, u"-x"_s, u"echo legacy; exit 4"_s}, {}, 0, "legacy\n", ""},
    };
    for (const Case& c : cases) {
        const AdbResult result = realAdb(QStringList{u"-s"_s, u"emulator-5556"_s} + c.arguments, c.input);
        EXPECT_EQ(result.status, c.status) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(result.out, c.out) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(result.err, c.err) << c.arguments.join(u' ').toStdString();
    }
}

TEST_F(RealAdbTest, ShellOutputLargerThanOnePayloadArrivesWhole) {
    // 3 MB crosses many WRTEs, each waiting for the server's OKAY.
    const AdbResult result =
        realAdb({u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"head -c 3000000 /dev/zero"_s});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.size(), 3000000);
    EXPECT_EQ(result.out.count('\0'), 3000000);
}

TEST_F(RealAdbTest, PushAndPullRoundTripThroughTheDevicesMounts) {
    QTemporaryDir local;
    QByteArray content(200000, '\0'); // several DATA chunks
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char(i * 7 % 251);
    QFile source(local.filePath(u"photo.bin"_s));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write(content);
    source.close();

    // Into a folder that does not exist yet, through the /sdcard link.
    const AdbResult pushed = realAdb(
        {u"-s"_s, u"emulator-5556"_s, u"push"_s, source.fileName(), u"/sdcard/Vantle/new/photo.bin"_s});
    EXPECT_EQ(pushed.status, 0) << pushed.err.constData();
    EXPECT_TRUE(pushed.text().startsWith(source.fileName() + u": 1 file pushed"_s)) << pushed.out.constData();
    QFile onDevice(device.dataRoot() + u"/media/0/Vantle/new/photo.bin"_s);
    ASSERT_TRUE(onDevice.open(QIODevice::ReadOnly));
    EXPECT_EQ(onDevice.readAll(), content);

    const QString back = local.filePath(u"back.bin"_s);
    const AdbResult pulled = realAdb(
        {u"-s"_s, u"emulator-5556"_s, u"pull"_s, u"/storage/emulated/0/Vantle/new/photo.bin"_s, back});
    EXPECT_EQ(pulled.status, 0) << pulled.err.constData();
    QFile result(back);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll(), content);

    const AdbResult missing =
        realAdb({u"-s"_s, u"emulator-5556"_s, u"pull"_s, u"/sdcard/nothing.bin"_s, local.filePath(u"x"_s)});
    // adb 1.0.41 reports file transfer errors on stdout (its line printer), not stderr; without
    // stat_v2 it learns of a missing file from an all-zero STAT.
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ((missing.out + "|" + missing.err).toStdString(),
              "adb: error: remote object '/sdcard/nothing.bin' does not exist\n|");
    EXPECT_FALSE(QFile::exists(local.filePath(u"x"_s)));

    // The device's root is read-only, as Android's is.
    const AdbResult refused =
        realAdb({u"-s"_s, u"emulator-5556"_s, u"push"_s, source.fileName(), u"/system/x"_s});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(
        refused.out.startsWith("adb: error: failed to copy '" + source.fileName().toUtf8() +
                               "' to '/system/x': remote couldn't create file: Read-only file system\n"))
        << refused.out.constData();
}

// adb 1.0.41 streams installs to "exec:cmd package install -S <size>" once adbd announces "cmd",
// pushes first with --no-streaming (Vantle's way), and runs install-multiple as a package
// installer session (install-create, install-write, install-commit).
TEST_F(RealAdbTest, InstallsTheWaysAdbChoosesAndKeepsAndroidsAnswers) {
    const QString notes = SimTestDevice::dataFile(u"notes.apk"_s);
    struct Case {
        QStringList arguments;
        int status;
        QString out, err;
    };
    const Case cases[] = {
        {{u"install"_s, u"-r"_s, notes}, 0, u"Performing Streamed Install\nSuccess\n"_s, {}},
        {{u"install-multiple"_s, u"-r"_s, notes}, 0, u"Success\n"_s, {}},
        {{u"install"_s, SimTestDevice::dataFile(u"notes_v1.apk"_s)},
         1,
         u"Performing Streamed Install\n"_s,
         u"adb: failed to install %1: Failure [INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected: Update "
         u"version code 1 is older than current 3]\n"_s.arg(SimTestDevice::dataFile(u"notes_v1.apk"_s))},
        {{u"install"_s, u"--no-streaming"_s, u"-r"_s, notes}, 0, {}, {}},
    };
    for (const Case& c : cases) {
        const AdbResult result = realAdb(QStringList{u"-s"_s, u"emulator-5556"_s} + c.arguments);
        const std::string what = c.arguments.join(u' ').toStdString();
        EXPECT_EQ(result.status, c.status) << what;
        if (c.out.isEmpty()) {
            EXPECT_TRUE(result.text().endsWith(u"Success\n"_s)) << result.out.constData();
        } else {
            EXPECT_EQ(result.out.toStdString(), c.out.toStdString()) << what;
        }
        EXPECT_EQ(result.err.toStdString(), c.err.toStdString()) << what;
    }
    const AdbResult listed = realAdb({u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"pm list packages -3"_s});
    EXPECT_EQ(listed.text(), u"package:org.vantle.sim.notes\n"_s);
    // No staging copy or session folder is left behind.
    const AdbResult staging = realAdb(
        {u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"ls /data/local/tmp; ls -d /data/app/vmdl* 2>&1"_s});
    EXPECT_EQ(staging.out, "ls: cannot access '/data/app/vmdl*': No such file or directory\n");
}

namespace {

// A listening socket: TCP on loopback (port 0: any) or an abstract Unix socket.
int listenOn(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) return -1;
    return fd;
}

int boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// What a device program does: connect to an abstract socket (the device shares this namespace).
int connectAbstract(const std::string& name) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address),
                  socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string readSome(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return "(timeout)";
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

} // namespace

TEST_F(RealAdbTest, ReverseForwardCarriesDeviceConnectionsToTheHost) {
    const int host = listenOn(0);
    ASSERT_GE(host, 0);
    const QString remote = u"tcp:%1"_s.arg(boundPort(host));
    const QStringList adb{u"-s"_s, u"emulator-5556"_s, u"reverse"_s};
    const AdbResult added = realAdb(adb + QStringList{u"localabstract:vantle_probe"_s, remote});
    EXPECT_EQ(added.status, 0) << added.out.constData() << added.err.constData();
    const AdbResult listed = realAdb(adb + QStringList{u"--list"_s});
    EXPECT_TRUE(listed.text().contains(u" localabstract:vantle_probe "_s + remote + u'\n'))
        << listed.out.constData();

    const int device = connectAbstract("vantle_probe");
    ASSERT_GE(device, 0);
    ASSERT_EQ(write(device, "ping", 4), 4);
    pollfd p{host, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    const int accepted = accept4(host, nullptr, nullptr, SOCK_CLOEXEC);
    EXPECT_EQ(readSome(accepted), "ping");
    ASSERT_EQ(write(accepted, "pong", 4), 4);
    EXPECT_EQ(readSome(device), "pong");
    close(accepted); // the host side ends: the device sees the end of its stream
    EXPECT_EQ(readSome(device), "");
    close(device);

    const AdbResult rebind =
        realAdb(adb + QStringList{u"--no-rebind"_s, u"localabstract:vantle_probe"_s, remote});
    EXPECT_EQ(rebind.status, 1);
    EXPECT_EQ(rebind.err, "adb: error: cannot rebind existing socket\n");
    EXPECT_EQ(realAdb(adb + QStringList{u"--remove"_s, u"localabstract:vantle_probe"_s}).status, 0);
    EXPECT_EQ(connectAbstract("vantle_probe"), -1);
    const AdbResult missing = realAdb(adb + QStringList{u"--remove"_s, u"localabstract:vantle_probe"_s});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "adb: error: listener 'localabstract:vantle_probe' not found\n");
    close(host);
}

// Vantle's stream start: the jar pushed, the abstract socket reversed to a host listener, the
// server started through "adb shell"; ending the adb client ends the server on the device.
TEST_F(RealAdbTest, DisplayServerConnectsBackThroughTheReverseTunnel) {
    const QStringList adb{u"-s"_s, u"emulator-5556"_s};
    ASSERT_EQ(realAdb(adb + QStringList{u"push"_s, SimTestDevice::dataFile(u"notes.apk"_s),
                                        u"/data/local/tmp/scrcpy-server.jar"_s})
                  .status,
              0);
    const int host = listenOn(0);
    ASSERT_GE(host, 0);
    const AdbResult reversed = realAdb(adb + QStringList{u"reverse"_s, u"localabstract:scrcpy_0000beef"_s,
                                                         u"tcp:%1"_s.arg(boundPort(host))});
    ASSERT_EQ(reversed.status, 0) << reversed.err.constData();

    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(googleAdb, adb + QStringList{u"shell"_s, u"CLASSPATH=/data/local/tmp/scrcpy-server.jar"_s,
                                              u"app_process"_s, u"/"_s, u"com.genymobile.scrcpy.Server"_s,
                                              u"5.0.1"_s, u"scid=0000beef"_s, u"log_level=info"_s,
                                              u"audio=false"_s, u"new_display=320x640/160"_s});
    const auto acceptOne = [host] {
        pollfd p{host, POLLIN, 0};
        return poll(&p, 1, 15000) == 1 ? accept4(host, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    };
    const int video = acceptOne();
    const int control = acceptOne();
    ASSERT_GE(video, 0) << server.readAll().constData();
    ASSERT_GE(control, 0);
    std::string header;
    while (header.size() < 80) { // device name (64), codec id (4), session packet (12)
        const std::string more = readSome(video);
        if (more.empty() || more == "(timeout)") break;
        header += more;
    }
    ASSERT_GE(header.size(), 80u);
    EXPECT_EQ(header.substr(64, 4), "h264");
    EXPECT_EQ(header.substr(68, 12), std::string("\x80\0\0\0\0\0\x01\x40\0\0\x02\x80", 12));
    QByteArray output = server.readAll();
    while (!output.contains("(id=") && server.waitForReadyRead(2000))
        output += server.readAll();
    EXPECT_TRUE(output.contains("New display: 320x640/160 (id=")) << output.constData();

    // Vantle's stop: SIGTERM to its adb client. adbd then ends the server, which closes its sockets.
    server.terminate();
    EXPECT_TRUE(server.waitForFinished(5000));
    bool ended = false;
    for (QDeadlineTimer deadline(5000); !ended && !deadline.hasExpired();)
        ended = readSome(video).empty(); // frames already in flight come first
    EXPECT_TRUE(ended);
    close(video);
    close(control);
    close(host);
}

TEST_F(RealAdbTest, EmuKillStopsTheEmulator) {
    const AdbResult result = realAdb({u"-s"_s, u"emulator-5556"_s, u"emu"_s, u"kill"_s});
    EXPECT_EQ(result.status, 0) << result.err.constData();
    // adb relays the console's reply as it came, line ending included.
    EXPECT_EQ(result.out, "OK: killing emulator, bye bye\r\n");
    EXPECT_TRUE(device.emulator().waitForFinished(10000));
    EXPECT_EQ(device.emulator().exitCode(), 0);
}

// Raw messages to adbd's port: what Google's adb would never send.
class AdbdWire {
public:
    AdbdWire() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(5557);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~AdbdWire() { close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // The next message, or nullopt when the connection closed (or nothing came within 5 s).
    std::optional<Adb::Message> next() {
        for (;;) {
            if (std::optional<Adb::Message> message = reader_.take()) return message;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) return std::nullopt;
            char buffer[4096];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) return std::nullopt;
            pending_.append(buffer, std::size_t(n));
            pending_.erase(0, reader_.feed(pending_));
        }
    }
    bool closedByPeer() {
        pollfd p{fd_, POLLIN, 0};
        char byte;
        return poll(&p, 1, 5000) == 1 && read(fd_, &byte, 1) == 0;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    Adb::MessageReader reader_{Adb::maxPayload};
    std::string pending_;
};

TEST_F(RealAdbTest, AdbdRefusesUnknownServicesAndClosesOnMalformedMessages) {
    AdbdWire wire;
    ASSERT_TRUE(wire.connected());
    wire.send(Adb::encode({Adb::A_CNXN, Adb::versionSkipChecksum, 256 * 1024, "host::\0"s}));
    const std::optional<Adb::Message> connect = wire.next();
    ASSERT_TRUE(connect);
    EXPECT_EQ(connect->command, Adb::A_CNXN);
    EXPECT_EQ(connect->arg0, Adb::versionSkipChecksum);
    EXPECT_EQ(connect->arg1, Adb::maxPayload);
    EXPECT_EQ(connect->payload,
              "device::ro.product.name=sdk_gphone64_x86_64;ro.product.model=sdk_gphone64_x86_64;"
              "ro.product.device=emu64x;features=shell_v2,cmd");

    for (const char* refused : {"frobnicate:\0", "shell,bogus:true\0", "jdwp:1\0"}) {
        wire.send(Adb::encode({Adb::A_OPEN, 7, 0, std::string(refused, std::strlen(refused) + 1)}));
        const std::optional<Adb::Message> answer = wire.next();
        ASSERT_TRUE(answer) << refused;
        EXPECT_EQ(answer->command, Adb::A_CLSE) << refused;
        EXPECT_EQ(answer->arg1, 7u) << refused;
    }
    // A WRTE announcing more than the 1 MiB maximum ends the connection before its payload.
    std::string oversized = Adb::encode({Adb::A_WRTE, 7, 1, {}});
    oversized[14] = 0x20; // length 0x00200000
    wire.send(oversized);
    EXPECT_TRUE(wire.closedByPeer());
}

} // namespace
