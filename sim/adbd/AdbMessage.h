#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// adb's transport messages between the adb server and the device's adbd. A message is a 24-byte
// header of six little-endian 32-bit words followed by `length` payload bytes:
//
//   offset  0  command   four ASCII letters read as a little-endian word ("CNXN" = 0x4e584e43)
//           4  arg0      meaning per command (CNXN: protocol version; OPEN/WRTE/OKAY/CLSE: sender's id)
//           8  arg1      meaning per command (CNXN: maximum payload; WRTE/OKAY/CLSE: receiver's id)
//          12  length    payload bytes that follow the header (0 is allowed)
//          16  check     sum of the payload bytes, modulo 2^32 (ignored from version 0x01000001 on)
//          20  magic     command ^ 0xffffffff
//          24  payload
//
// Nothing here does I/O: the reader takes bytes as they arrive and hands out whole messages, so
// the connection code and the fuzz target drive the same parser.
namespace Adb {

enum Command : std::uint32_t {
    A_SYNC = 0x434e5953,
    A_CNXN = 0x4e584e43,
    A_AUTH = 0x48545541,
    A_OPEN = 0x4e45504f,
    A_OKAY = 0x59414b4f,
    A_CLSE = 0x45534c43,
    A_WRTE = 0x45545257,
    A_STLS = 0x534c5453,
};

inline constexpr std::size_t headerSize = 24;
// The first protocol version, and the one from which payload checksums are no longer sent or
// checked. Our adbd announces the latter.
inline constexpr std::uint32_t versionMin = 0x01000000;
inline constexpr std::uint32_t versionSkipChecksum = 0x01000001;
// What a peer may send before the CNXN exchange settles the maximum (adb's MAX_PAYLOAD_V1), and
// the largest payload our adbd accepts or announces (adb's MAX_PAYLOAD).
inline constexpr std::uint32_t maxPayloadV1 = 4 * 1024;
inline constexpr std::uint32_t maxPayload = 1024 * 1024;

struct Message {
    std::uint32_t command = 0;
    std::uint32_t arg0 = 0;
    std::uint32_t arg1 = 0;
    std::string payload;

    bool operator==(const Message&) const = default;
};

std::uint32_t checksum(std::string_view payload);
// The header and payload as they go on the wire (the checksum is always filled in: peers that
// skip it ignore the field).
std::string encode(const Message& message);
// "CNXN" for a known command, "0x…" otherwise; for log lines and errors.
std::string commandName(std::uint32_t command);

// Reassembles messages from a byte stream. The header's length is checked against the current
// maximum before a single payload byte is buffered, so a peer cannot make the reader hold more
// than one header and one maximum payload. After a malformed message the reader stays failed:
// adb's protocol says the connection must then be closed.
class MessageReader {
public:
    explicit MessageReader(std::uint32_t maxPayloadBytes = maxPayload);

    // The negotiated maximum and whether checksums are verified (both change after CNXN).
    void setMaxPayload(std::uint32_t bytes) { maxPayloadBytes_ = bytes; }
    void setChecksumChecked(bool checked) { checksumChecked_ = checked; }
    std::uint32_t maxPayloadBytes() const { return maxPayloadBytes_; }

    // Takes bytes up to the end of the current message; returns how many it took. Returns 0 once
    // a message is waiting in take() or the stream has failed.
    std::size_t feed(std::string_view bytes);
    // The completed message, if one is waiting.
    std::optional<Message> take();
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    bool checkHeader();

    std::uint32_t maxPayloadBytes_;
    bool checksumChecked_ = true;
    std::string buffer_;
    std::uint32_t payloadLength_ = 0;
    bool headerDone_ = false;
    bool complete_ = false;
    std::string error_;
};

} // namespace Adb
