#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// adb's shell protocol (the "shell_v2" feature), carried inside a stream's WRTE payloads so that
// stdin, stdout, stderr and the exit status share one stream:
//
//   offset 0  id      0 stdin, 1 stdout, 2 stderr, 3 exit (1 byte: status), 4 close stdin,
//                     5 window size change (text "rows x cols,x_pixels x y_pixels")
//          1  length  payload bytes, 32-bit little-endian
//          5  payload
//
// Packets need not line up with WRTE boundaries, so the reader reassembles them.
namespace ShellPacket {

enum Id : std::uint8_t {
    stdinData = 0,
    stdoutData = 1,
    stderrData = 2,
    exitStatus = 3,
    closeStdin = 4,
    windowSize = 5
};

inline constexpr std::size_t headerSize = 5;

std::string encode(Id id, std::string_view payload);

struct Packet {
    std::uint8_t id = 0;
    std::string payload;
};

// Takes the payloads of a stream's WRTEs and hands out whole packets. A packet longer than
// `maxPayloadBytes` fails the reader (the stream is then closed).
class Reader {
public:
    explicit Reader(std::uint32_t maxPayloadBytes)
        : maxPayloadBytes_(maxPayloadBytes) {}
    void append(std::string_view bytes) { buffer_ += bytes; }
    std::optional<Packet> next();
    bool failed() const { return failed_; }

private:
    std::uint32_t maxPayloadBytes_;
    std::string buffer_;
    bool failed_ = false;
};

} // namespace ShellPacket
