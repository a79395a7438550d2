// adbd's services of the simulated emulator without a client: service names, the shell
// protocol's packets, the console's dialogue, and the file service on a socket pair.
#include "sim/adbd/AdbService.h"
#include "sim/adbd/EmulatorConsole.h"
#include "sim/adbd/ShellPacket.h"
#include "sim/adbd/SyncService.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::string_literals;

TEST(AdbdServicesTest, ParsesServiceNames) {
    struct Case {
        std::string name;
        AdbService::Kind kind;
        bool shellProtocol;
        std::string command;
    };
    const Case cases[] = {
        {"shell,v2,raw:echo hi\0"s, AdbService::shell, true, "echo hi"},
        {"shell,v2,TERM=xterm-256color,pty:\0"s, AdbService::shell, true, ""},
        {"shell:ls -l /sdcard\0"s, AdbService::shell, false, "ls -l /sdcard"},
        {"shell,raw:a:b\0"s, AdbService::shell, false, "a:b"},
        {"exec:cmd package list\0"s, AdbService::exec, false, "cmd package list"},
        {"sync:\0"s, AdbService::sync, false, ""},
        {"reverse:list-forward\0"s, AdbService::reverse, false, "list-forward"},
        {"shell,v3:true\0"s, AdbService::unknown, false, ""},
        {"shell,v2\0"s, AdbService::unknown, false, ""},
        {"reboot:\0"s, AdbService::unknown, false, ""},
        {""s, AdbService::unknown, false, ""},
    };
    for (const Case& c : cases) {
        const AdbService service = AdbService::parse(c.name);
        EXPECT_EQ(service.kind, c.kind) << c.name;
        EXPECT_EQ(service.shellProtocol, c.shellProtocol) << c.name;
        EXPECT_EQ(service.command, c.command) << c.name;
    }
}

TEST(AdbdServicesTest, ParsesReverseRequests) {
    struct Case {
        std::string request;
        ReverseRequest::Kind kind;
        bool noRebind;
        std::string local, remote, error;
    };
    const Case cases[] = {
        {"forward:localabstract:scrcpy_1a2b;tcp:27183", ReverseRequest::forward, false,
         "localabstract:scrcpy_1a2b", "tcp:27183", ""},
        {"forward:norebind:tcp:8080;tcp:9090", ReverseRequest::forward, true, "tcp:8080", "tcp:9090", ""},
        {"killforward:tcp:8080", ReverseRequest::kill, false, "tcp:8080", "", ""},
        {"killforward-all", ReverseRequest::killAll, false, "", "", ""},
        {"list-forward", ReverseRequest::list, false, "", "", ""},
        {"forward:tcp:8080", ReverseRequest::invalid, false, "", "", "malformed forward spec"},
        {"forward:tcp:0;tcp:1", ReverseRequest::invalid, false, "tcp:0", "tcp:1",
         "cannot bind listener: unsupported socket spec 'tcp:0'"},
        {"forward:tcp:70000;tcp:1", ReverseRequest::invalid, false, "tcp:70000", "tcp:1",
         "cannot bind listener: unsupported socket spec 'tcp:70000'"},
        {"forward:localfilesystem:/x;tcp:1", ReverseRequest::invalid, false, "localfilesystem:/x", "tcp:1",
         "cannot bind listener: unsupported socket spec 'localfilesystem:/x'"},
        {"forward:localabstract:" + std::string(108, 'n') + ";tcp:1", ReverseRequest::invalid, false,
         "localabstract:" + std::string(108, 'n'), "tcp:1",
         "cannot bind listener: unsupported socket spec 'localabstract:" + std::string(108, 'n') + "'"},
        {"frobnicate", ReverseRequest::invalid, false, "", "", "unknown reverse request"},
    };
    for (const Case& c : cases) {
        const ReverseRequest parsed = ReverseRequest::parse(c.request);
        EXPECT_EQ(parsed.kind, c.kind) << c.request;
        EXPECT_EQ(parsed.noRebind, c.noRebind) << c.request;
        EXPECT_EQ(parsed.local, c.local) << c.request;
        EXPECT_EQ(parsed.remote, c.remote) << c.request;
        EXPECT_EQ(parsed.error, c.error) << c.request;
    }
}

TEST(AdbdServicesTest, ShellPacketsAreFramedAndReassembled) {
    // exit status 3: id 3, length 1 (little-endian), the status byte
    EXPECT_EQ(ShellPacket::encode(ShellPacket::exitStatus, "\x03"), "\x03\x01\x00\x00\x00\x03"s);
    const std::string stream = ShellPacket::encode(ShellPacket::stdinData, "typed") +
                               ShellPacket::encode(ShellPacket::closeStdin, "");
    ShellPacket::Reader reader(1024);
    reader.append(stream.substr(0, 7)); // header and two bytes: nothing whole yet
    EXPECT_FALSE(reader.next());
    reader.append(stream.substr(7));
    const auto first = reader.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, ShellPacket::stdinData);
    EXPECT_EQ(first->payload, "typed");
    EXPECT_EQ(reader.next()->id, ShellPacket::closeStdin);

    ShellPacket::Reader capped(16);
    capped.append("\x00\x11\x00\x00\x00"s); // 17 bytes announced
    EXPECT_FALSE(capped.next());
    EXPECT_TRUE(capped.failed());
}

TEST(AdbdServicesTest, ConsoleWantsTheTokenBeforeKill) {
    EmulatorConsole console("s3cret", "/home/u/.emulator_console_auth_token");
    EXPECT_EQ(console.greeting(), "Android Console: Authentication required\r\n"
                                  "Android Console: type 'auth <auth_token>' to authenticate\r\n"
                                  "Android Console: you can find your <auth_token> in \r\n"
                                  "'/home/u/.emulator_console_auth_token'\r\nOK\r\n");
    EXPECT_EQ(console.handle("kill").text, "KO: unknown command, try 'help'\r\n");
    EXPECT_EQ(console.handle("kill").action, EmulatorConsole::Reply::none);
    EXPECT_EQ(console.handle("auth wrong").text,
              "KO: authentication token does not match ~/.emulator_console_auth_token\r\n");
    EXPECT_EQ(console.handle("auth s3cret\r").text,
              "Android Console: type 'help' for a list of commands\r\nOK\r\n");
    EXPECT_EQ(console.handle("frobnicate").text, "KO: unknown command, try 'help'\r\n");
    const EmulatorConsole::Reply kill = console.handle("kill");
    EXPECT_EQ(kill.text, "OK: killing emulator, bye bye\r\n");
    EXPECT_EQ(kill.action, EmulatorConsole::Reply::killEmulator);
    EXPECT_EQ(console.handle("quit").action, EmulatorConsole::Reply::close);
}

TEST(AdbdServicesTest, ConsoleTokenIsCreatedOnceAndKept) {
    QTemporaryDir home;
    const std::string token = loadOrCreateConsoleAuthToken(home.path().toStdString());
    EXPECT_EQ(token.size(), 16u);
    EXPECT_EQ(loadOrCreateConsoleAuthToken(home.path().toStdString()), token);
    QFile file(QString::fromStdString(consoleAuthTokenPath(home.path().toStdString())));
    EXPECT_EQ(file.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

namespace {

std::string request(const char* id, std::string_view body) {
    std::string bytes(id, 4);
    const auto length = std::uint32_t(body.size());
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(char((length >> shift) & 0xff));
    return bytes + std::string(body);
}

// The file service on one end of a socket pair; the test is the client on the other.
class SyncPeer {
public:
    SyncPeer() {
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_);
        server_ = std::thread([this] {
            status_ = SyncService::serve(fds_[1], fds_[1]);
            shutdown(fds_[1], SHUT_WR);
        });
    }
    ~SyncPeer() {
        shutdown(fds_[0], SHUT_WR);
        if (server_.joinable()) server_.join();
        close(fds_[0]);
        close(fds_[1]);
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(write(fds_[0], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Everything the service sends until it ends.
    std::string replyUntilEnd() {
        shutdown(fds_[0], SHUT_WR);
        server_.join();
        std::string all;
        char buffer[65536];
        for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;)
            all.append(buffer, std::size_t(n));
        return all;
    }
    int status() const { return status_; }

private:
    int fds_[2] = {-1, -1};
    int status_ = -1;
    std::thread server_;
};

} // namespace

TEST(AdbdServicesTest, SyncSendsStatsAndReceivesFiles) {
    QTemporaryDir device;
    const std::string root = device.path().toStdString();
    SyncPeer peer;
    peer.send(request("SEND", root + "/new/folder/a.txt,33188") + request("DATA", "hello ") +
              request("DATA", "world") + request("DONE", "") + request("RECV", root + "/new/folder/a.txt") +
              request("STAT", root + "/missing") + request("RECV", root + "/missing") + request("QUIT", ""));
    std::string reply = peer.replyUntilEnd();
    const std::string expected = "OKAY\0\0\0\0"s // SEND done
                                 "DATA\x0b\0\0\0hello world"s +
                                 "DONE\0\0\0\0"s                  // RECV
                                 + "STAT" + std::string(12, '\0') // no such file: all zero
                                 + "FAIL\x19\0\0\0No such file or directory"s;
    EXPECT_EQ(reply, expected);
    EXPECT_EQ(peer.status(), 0);
}

TEST(AdbdServicesTest, SyncRefusesOversizedAndUnknownRequests) {
    QTemporaryDir device;
    const std::string target = device.path().toStdString() + "/big.bin";
    struct Case {
        const char* name;
        std::string input;
        std::string reply;
    };
    const Case cases[] = {
        {"path over 1024 bytes", request("STAT", std::string(1025, 'a')), "FAIL\x0d\0\0\0path too long"s},
        {"unknown request", request("XMIT", "/x"), "FAIL\x0f\0\0\0unknown command"s},
        {"DATA over 64 KiB", request("SEND", target + ",33188") + "DATA\x01\x00\x01\x00"s,
         "FAIL\x27\0\0\0data chunk of 65537 bytes exceeds 65536"s},
    };
    for (const Case& c : cases) {
        SyncPeer peer;
        peer.send(c.input);
        EXPECT_EQ(peer.replyUntilEnd(), c.reply) << c.name;
        EXPECT_EQ(peer.status(), 1) << c.name;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(target))); // the refused SEND left nothing
}
