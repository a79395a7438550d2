// Reading what Google's emulator said before it quit.
#include "runtime/EmulatorOutput.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(EmulatorOutputTest, FindsTheLastErrorLine) {
    const struct {
        const char* output;
        std::optional<QString> line;
    } cases[] = {
        // Emulator 34 and later: "LEVEL | message", the error followed by untagged details.
        {"INFO    | Android emulator version 34.1.20.0 (build_id 11610631) (CL:N/A)\n"
         "WARNING | File System is not ext4, disable QuickbootFileBacked feature\n"
         "ERROR   | x86_64 emulation currently requires hardware acceleration!\n"
         "CPU acceleration status: KVM requires a CPU that supports vmx or svm\n"
         "More info on configuring VM acceleration on Linux:\n"
         "https://developer.android.com/studio/run/emulator-acceleration#vm-linux\n",
         u"x86_64 emulation currently requires hardware acceleration!"_s},
        // Newer ones pad the level further; the last of several errors counts.
        {"ERROR        | first\r\nINFO         | between\r\nPANIC        | Unknown AVD name [x]\r\n",
         u"Unknown AVD name [x]"_s},
        // Older releases: "emulator: LEVEL: message".
        {"emulator: WARNING: encryption is off\n"
         "emulator: ERROR: x86 emulation currently requires hardware acceleration!\n"
         "Please ensure KVM is properly installed and usable.\n",
         u"x86 emulation currently requires hardware acceleration!"_s},
        // No error line: the last line that is no log line (the program's own crash message).
        {"INFO    | Boot completed\nqemu-system-x86_64: failed to initialize kvm: Permission denied\n\n",
         u"qemu-system-x86_64: failed to initialize kvm: Permission denied"_s},
        {"INFO    | Android emulator\nWARNING | slow disk\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_EQ(EmulatorOutput::lastErrorLine(QByteArray(c.output)), c.line);
    }
}

} // namespace
