// adbd without a client: split and hostile messages, refusals Google's adb never provokes, console, sync.
#include "sim/adbd/AdbMessage.h"
#include "sim/adbd/AdbService.h"
#include "sim/adbd/EmulatorConsole.h"
#include "sim/adbd/ShellPacket.h"
#include "sim/adbd/SyncService.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::string_literals;

// What adb's own client never sends; the valid requests are driven through Google's adb.
TEST(AdbdServicesTest, RefusesMalformedReverseRequests) {
    const std::string longName = "localabstract:" + std::string(108, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"forward:tcp:8080", "malformed forward spec"},
        {"forward:tcp:0;tcp:1", "cannot bind listener: unsupported socket spec 'tcp:0'"},
        {"forward:tcp:70000;tcp:1", "cannot bind listener: unsupported socket spec 'tcp:70000'"},
        {"forward:localfilesystem:/x;tcp:1",
         "cannot bind listener: unsupported socket spec 'localfilesystem:/x'"},
        {"forward:" + longName + ";tcp:1",
         "cannot bind listener: unsupported socket spec '" + longName + "'"},
        {"frobnicate", "unknown reverse request"},
    };
    for (const auto& [request, error] : cases) {
        const ReverseRequest parsed = ReverseRequest::parse(request);
        EXPECT_EQ(parsed.kind, ReverseRequest::invalid) << request;
        EXPECT_EQ(parsed.error, error) << request;
    }
}

TEST(AdbdServicesTest, ShellPacketReaderWaitsForWholePacketsAndRefusesOversizedOnes) {
    const std::string stream = ShellPacket::encode(ShellPacket::stdinData, "typed");
    ShellPacket::Reader reader(1024);
    reader.append(stream.substr(0, 7)); // header and two bytes: nothing whole yet
    EXPECT_FALSE(reader.next());
    reader.append(stream.substr(7));
    EXPECT_EQ(reader.next()->payload, "typed");
    ShellPacket::Reader capped(16);
    capped.append("\x00\x11\x00\x00\x00"s); // 17 bytes announced
    EXPECT_FALSE(capped.next());
    EXPECT_TRUE(capped.failed());
}

TEST(AdbdServicesTest, ConsoleWantsTheTokenBeforeKill) {
    EmulatorConsole console("s3cret", "/home/u/.emulator_console_auth_token");
    EXPECT_TRUE(console.greeting().ends_with("'/home/u/.emulator_console_auth_token'\r\nOK\r\n"));
    EXPECT_EQ(console.handle("kill").text, "KO: unknown command, try 'help'\r\n");
    EXPECT_EQ(console.handle("kill").action, EmulatorConsole::Reply::none);
    EXPECT_EQ(console.handle("auth wrong").text,
              "KO: authentication token does not match ~/.emulator_console_auth_token\r\n");
    EXPECT_EQ(console.handle("auth s3cret\r").text,
              "Android Console: type 'help' for a list of commands\r\nOK\r\n");
    EXPECT_EQ(console.handle("frobnicate").text, "KO: unknown command, try 'help'\r\n");
    EXPECT_EQ(console.handle("kill").action,
              EmulatorConsole::Reply::killEmulator); // its reply: SimEmulatorTest
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

// The file service's reply to `input` and its status, on a socket pair whose buffers hold them whole.
std::pair<std::string, int> serveSync(const std::string& input) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    EXPECT_EQ(write(fds[0], input.data(), input.size()), ssize_t(input.size()));
    shutdown(fds[0], SHUT_WR);
    const int status = SyncService::serve(fds[1], fds[1]);
    close(fds[1]);
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        reply.append(buffer, std::size_t(n));
    close(fds[0]);
    return {reply, status};
}

// `header` with the little-endian word at byte `at` replaced by `word`.
std::string withWord(std::string header, std::size_t at, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        header[at + i] = char(word >> (8 * i));
    return header;
}

// A file service request: its id, the body's length, the body.
std::string request(const char* id, std::string_view body) {
    return withWord(std::string(id, 4) + std::string(4, '\0'), 4, std::uint32_t(body.size())) +
           std::string(body);
}

// Feeds `bytes` in pieces of `step`, collecting messages until the reader fails or input ends.
std::vector<Adb::Message> readAll(Adb::MessageReader& reader, std::string_view bytes, std::size_t step) {
    std::vector<Adb::Message> messages;
    while (!bytes.empty() && !reader.failed()) {
        const std::size_t taken = reader.feed(bytes.substr(0, std::min(step, bytes.size())));
        bytes.remove_prefix(taken);
        if (auto message = reader.take())
            messages.push_back(*message);
        else if (taken == 0)
            break;
    }
    return messages;
}

} // namespace

TEST(AdbdServicesTest, SyncAnswersAndRefusals) {
    QTemporaryDir device;
    const std::string dir = device.path().toStdString(), target = dir + "/big.bin";
    struct Case {
        const char* name;
        std::string input;
        std::string reply;
        int status = 1; // 1: the session ends
    };
    const Case cases[] = {
        {"SEND into a new folder, then RECV",
         request("SEND", dir + "/new/a.txt,33188") + request("DATA", "hello") + request("DONE", "") +
             request("RECV", dir + "/new/a.txt"),
         "OKAY\0\0\0\0DATA\x05\0\0\0helloDONE\0\0\0\0"s, 0},
        {"STAT of a missing file: all zero", request("STAT", "/missing"), "STAT" + std::string(12, '\0'), 0},
        {"RECV of a missing file", request("RECV", "/missing"), "FAIL\x19\0\0\0No such file or directory"s,
         0},
        {"path over 1024 bytes", request("STAT", std::string(1025, 'a')), "FAIL\x0d\0\0\0path too long"s},
        {"unknown request", request("XMIT", "/x"), "FAIL\x0f\0\0\0unknown command"s},
        {"DATA over 64 KiB", request("SEND", target + ",33188") + "DATA\x01\x00\x01\x00"s,
         "FAIL\x27\0\0\0data chunk of 65537 bytes exceeds 65536"s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(serveSync(c.input), std::pair(c.reply, c.status)) << c.name;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(target))); // the refused SEND left nothing
}

TEST(AdbMessageTest, ReassemblesMessagesSplitAtEveryByte) {
    const std::vector<Adb::Message> sent{{Adb::A_OPEN, 1, 0, "shell,v2,raw:echo hi\0"s},
                                         {Adb::A_WRTE, 1, 9, std::string(300, '\xff')},
                                         {Adb::A_CLSE, 1, 9, {}}};
    std::string stream;
    for (const Adb::Message& message : sent)
        stream += Adb::encode(message);
    for (std::size_t step : {std::size_t(1), std::size_t(7), std::size_t(24), stream.size()}) {
        Adb::MessageReader reader;
        EXPECT_EQ(readAll(reader, stream, step), sent) << "step " << step;
        EXPECT_FALSE(reader.failed()) << reader.error();
    }
}

TEST(AdbMessageTest, RefusesMalformedHeadersBeforeBufferingThePayload) {
    struct Case {
        const char* name;
        std::string header;
        std::uint32_t maxPayload;
        const char* error;
    };
    const std::string wrte = Adb::encode({Adb::A_WRTE, 1, 2, {}}),
                      okay = Adb::encode({Adb::A_OKAY, 1, 2, {}});
    const Case cases[] = {
        {"length over the negotiated maximum", withWord(wrte, 12, 4097), Adb::maxPayloadV1,
         "WRTE payload of 4097 bytes exceeds 4096"},
        {"length at 4 GiB", withWord(wrte, 12, 0xffffffff), Adb::maxPayload,
         "WRTE payload of 4294967295 bytes exceeds 1048576"},
        {"magic that is not the command's complement", withWord(okay, 20, 0), Adb::maxPayload,
         "bad magic for OKAY"},
        {"unknown command", withWord(withWord(okay, 0, 0x44434241), 20, ~0x44434241u), Adb::maxPayload,
         "unknown command 0x44434241"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.header.size(), Adb::headerSize) << c.name;
        Adb::MessageReader reader(c.maxPayload);
        const std::string input = c.header + std::string(64, 'x');
        EXPECT_EQ(reader.feed(input), Adb::headerSize) << c.name; // not one payload byte taken
        EXPECT_TRUE(reader.failed()) << c.name;
        EXPECT_EQ(reader.error(), c.error) << c.name;
        EXPECT_EQ(reader.feed(input), 0u) << c.name; // stays failed
        EXPECT_FALSE(reader.take()) << c.name;
    }
}

TEST(AdbMessageTest, ChecksIntegrityOnlyWhileTheVersionAsksForIt) {
    std::string bytes = Adb::encode({Adb::A_WRTE, 3, 4, "abc"s});
    bytes[16] = 0; // checksum 0x126 -> 0x100, as a peer that skips checksums might send anything
    Adb::MessageReader checking;
    readAll(checking, bytes, bytes.size());
    EXPECT_EQ(checking.error(), "checksum mismatch for WRTE");

    Adb::MessageReader skipping;
    skipping.setChecksumChecked(false);
    const auto messages = readAll(skipping, bytes, 5);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].payload, "abc");
}
