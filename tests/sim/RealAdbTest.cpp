// The simulated emulator's adbd driven by Google's adb (Debian's build) directly, in the network
// namespace of this test program (support/AndroidTestMain.cpp): what the end-to-end programs do
// not reach. Skipped on a machine without Google's adb.
#include "SimTestDevice.h"
#include "sim/SimInstaller.h"
#include "sim/adbd/AdbMessage.h"

#include <QProcess>
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

// Google's adb with "-s emulator-5556" first, `input` on its stdin when given.
AdbResult realAdb(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(u"/usr/bin/adb"_s, QStringList{u"-s"_s, u"emulator-5556"_s} + arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    AdbResult result;
    if (!process.waitForFinished(30000)) return result; // status -1; ~QProcess kills it
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// A TCP listener on loopback, on any free port.
int listenOnLoopback() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
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

} // namespace

// One booted device walked through shell, install, reverse and raw-wire cases in turn.
TEST(RealAdbTest, ShellInstallReverseAndTheRawWire) {
    if (SimInstaller::googleAdb().isEmpty()) GTEST_SKIP() << "Google's adb is not installed";
    SimTestDevice device;
    ASSERT_TRUE(device.start(false));
    ASSERT_EQ(realAdb({u"wait-for-device"_s}).status, 0);

    {
        SCOPED_TRACE("shell: streams apart, exit status");
        struct Run {
            QStringList arguments;
            QByteArray input;
            int status;
            QByteArray out, err;
        };
        const Run runs[] = {
            {{u"shell"_s, u"echo out; echo err >&2; exit 3"_s}, {}, 3, "out\n", "err\n"},
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
        for (const Run& run : runs) {
            const AdbResult result = realAdb(run.arguments, run.input);
            const std::string what = run.arguments.join(u' ').toStdString();
            EXPECT_EQ(result.status, run.status) << what;
            EXPECT_EQ(result.out, run.out) << what;
            EXPECT_EQ(result.err, run.err) << what;
        }
        // 3 MB crosses many WRTEs, each waiting for the server's OKAY.
        const AdbResult zeros = realAdb({u"shell"_s, u"head -c 3000000 /dev/zero"_s});
        EXPECT_EQ(zeros.status, 0);
        EXPECT_EQ(zeros.out.count('\0'), 3000000);
        EXPECT_EQ(zeros.out.size(), 3000000);
    }
    {
        SCOPED_TRACE("install: streamed, as a session, and Android's refusal");
        const QString notes = SimTestDevice::dataFile(u"notes.apk"_s),
                      old = SimTestDevice::dataFile(u"notes_v1.apk"_s);
        EXPECT_EQ(realAdb({u"install"_s, u"-r"_s, notes}).out, "Performing Streamed Install\nSuccess\n");
        EXPECT_EQ(realAdb({u"install-multiple"_s, u"-r"_s, notes}).out, "Success\n");
        const AdbResult downgrade = realAdb({u"install"_s, old});
        EXPECT_EQ(downgrade.status, 1);
        EXPECT_EQ(
            downgrade.err.toStdString(),
            u"adb: failed to install %1: Failure [INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected: "
            u"Update version code 1 is older than current 3]\n"_s.arg(old)
                .toStdString());
        // No staging copy or session folder is left behind.
        EXPECT_EQ(realAdb({u"shell"_s, u"ls /data/local/tmp; ls -d /data/app/vmdl* 2>&1"_s}).out,
                  "ls: cannot access '/data/app/vmdl*': No such file or directory\n");
    }
    {
        SCOPED_TRACE("reverse: device connections reach the host");
        const int host = listenOnLoopback();
        ASSERT_GE(host, 0);
        const QString remote = u"tcp:%1"_s.arg(boundPort(host));
        EXPECT_EQ(realAdb({u"reverse"_s, u"localabstract:vantle_probe"_s, remote}).status, 0);
        EXPECT_TRUE(
            realAdb({u"reverse"_s, u"--list"_s}).text().contains(u" localabstract:vantle_probe "_s + remote));
        const int onDevice = connectAbstract("vantle_probe");
        ASSERT_GE(onDevice, 0);
        ASSERT_EQ(write(onDevice, "ping", 4), 4);
        pollfd p{host, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1);
        const int accepted = accept4(host, nullptr, nullptr, SOCK_CLOEXEC);
        EXPECT_EQ(readSome(accepted), "ping");
        ASSERT_EQ(write(accepted, "pong", 4), 4);
        EXPECT_EQ(readSome(onDevice), "pong");
        close(accepted); // the host side ends: the device sees the end of its stream
        EXPECT_EQ(readSome(onDevice), "");
        close(onDevice);
        close(host);
        const AdbResult rebind =
            realAdb({u"reverse"_s, u"--no-rebind"_s, u"localabstract:vantle_probe"_s, remote});
        EXPECT_EQ(rebind.status, 1);
        EXPECT_EQ(rebind.err, "adb: error: cannot rebind existing socket\n");
        EXPECT_EQ(realAdb({u"reverse"_s, u"--remove"_s, u"localabstract:vantle_probe"_s}).status, 0);
        EXPECT_EQ(connectAbstract("vantle_probe"), -1);
        const AdbResult missing = realAdb({u"reverse"_s, u"--remove"_s, u"localabstract:vantle_probe"_s});
        EXPECT_EQ(missing.status, 1);
        EXPECT_EQ(missing.err, "adb: error: listener 'localabstract:vantle_probe' not found\n");
        EXPECT_EQ(realAdb({u"reverse"_s, u"--remove-all"_s}).status, 0);
    }
    {
        SCOPED_TRACE("raw wire: unknown services refused, malformed messages end the connection");
        AdbdWire wire;
        ASSERT_TRUE(wire.connected());
        wire.send(Adb::encode({Adb::A_CNXN, Adb::versionSkipChecksum, 256 * 1024, "host::\0"s}));
        EXPECT_EQ(wire.next(),
                  (Adb::Message{Adb::A_CNXN, Adb::versionSkipChecksum, Adb::maxPayload,
                                "device::ro.product.name=sdk_gphone64_x86_64;ro.product.model="
                                "sdk_gphone64_x86_64;ro.product.device=emu64x;features=shell_v2,cmd"}));
        for (const char* refused : {"frobnicate:\0", "shell,bogus:true\0", "shell,v3:true\0", "shell,v2\0",
                                    "reboot:\0", "jdwp:1\0"}) {
            wire.send(Adb::encode({Adb::A_OPEN, 7, 0, std::string(refused, std::strlen(refused) + 1)}));
            EXPECT_EQ(wire.next(), (Adb::Message{Adb::A_CLSE, 0, 7, {}})) << refused;
        }
        // A WRTE announcing more than the 1 MiB maximum ends the connection before its payload.
        std::string oversized = Adb::encode({Adb::A_WRTE, 7, 1, {}});
        oversized[14] = 0x20; // length 0x00200000
        wire.send(oversized);
        EXPECT_TRUE(wire.closedByPeer());
    }
}
