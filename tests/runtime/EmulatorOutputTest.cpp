// Reading what Google's emulator said before it quit.
#include "runtime/EmulatorOutput.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(EmulatorOutputTest, FindsTheLastErrorLine) {
    const struct {
        const char* output;
        std::optional<QString> line;
    } cases[] = {
        // Emulator 34 and later: "LEVEL | message", the last error followed by untagged details.
        {"INFO    | Android emulator version 34.1.20.0\nERROR   | first\r\n"
         "ERROR   | x86_64 emulation currently requires hardware acceleration!\n"
         "CPU acceleration status: KVM requires a CPU that supports vmx or svm\n",
         u"x86_64 emulation currently requires hardware acceleration!"_s},
        // Older releases: "emulator: LEVEL: message".
        {"emulator: ERROR: x86 emulation currently requires hardware acceleration!\nPlease ensure KVM is "
         "usable.\n",
         u"x86 emulation currently requires hardware acceleration!"_s},
        // No error line: the last line that is no log line (the program's own crash message).
        {"INFO    | Boot completed\nqemu-system-x86_64: failed to initialize kvm\n\n",
         u"qemu-system-x86_64: failed to initialize kvm"_s},
        {"INFO    | Android emulator\nWARNING | slow disk\n", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EmulatorOutput::lastErrorLine(QByteArray(c.output)), c.line) << c.output;
}
