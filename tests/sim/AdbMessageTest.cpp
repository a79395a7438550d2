// Reassembly of adb transport messages from split and hostile input; Google's adb checks the encoding.
#include "sim/adbd/AdbMessage.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

// `header` with the little-endian word at byte `at` replaced by `word`.
std::string withWord(std::string header, std::size_t at, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        header[at + i] = char(word >> (8 * i));
    return header;
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
