// libFuzzer target: adbd's message reader on arbitrary bytes, as a client's socket delivers them.
// The first input byte picks the maximum payload and whether checksums are checked, the second
// the size of the pieces the bytes arrive in. Checks the contracts as well as memory safety: no
// message exceeds the maximum, a failed reader takes nothing more, and every message read back
// encodes to exactly the bytes it came from.
#include "sim/adbd/AdbMessage.h"

#include <cstdlib>

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint32_t maxPayload = (data[0] & 1) ? Adb::maxPayloadV1 : Adb::maxPayload;
    Adb::MessageReader reader(maxPayload);
    reader.setChecksumChecked(data[0] & 2);
    const std::size_t step = std::size_t(data[1]) + 1;
    std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string_view messageStart = bytes;
    while (!bytes.empty()) {
        const std::size_t taken = reader.feed(bytes.substr(0, std::min(step, bytes.size())));
        check(taken <= bytes.size());
        bytes.remove_prefix(taken);
        if (std::optional<Adb::Message> message = reader.take()) {
            check(message->payload.size() <= maxPayload);
            const std::string encoded = Adb::encode(*message);
            const std::size_t length = encoded.size();
            check(std::size_t(bytes.data() - messageStart.data()) == length);
            // Equal except for the checksum word, which an unchecked reader lets pass as sent.
            check(encoded.compare(0, 16, messageStart.substr(0, 16)) == 0);
            check(encoded.compare(20, std::string::npos, messageStart.substr(20, length - 20)) == 0);
            messageStart = bytes;
        } else if (taken == 0) {
            check(reader.failed());
            check(reader.feed(bytes) == 0);
            break;
        }
    }
    return 0;
}
