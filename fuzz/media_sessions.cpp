// The media-session reader on the input as `dumpsys media_session` output (UTF-8). The package is
// the input's first line, so that the fuzzer can make blocks match; a fixed one is tried too. A
// value read must have a title and keep within the field bounds.
#include "integrations/AndroidMediaSessions.h"

#include <cstdlib>

namespace {
void check(const QString& output, const QString& package) {
    const std::optional<AndroidMedia> media = AndroidMediaSessions::parse(output, package);
    if (!media) return;
    if (media->title.isEmpty() || media->title.size() > AndroidMediaSessions::maxFieldChars ||
        media->artist.size() > AndroidMediaSessions::maxFieldChars)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString output = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    check(output, output.section(u'\n', 0, 0));
    check(output, QStringLiteral("org.example.player"));
    return 0;
}
