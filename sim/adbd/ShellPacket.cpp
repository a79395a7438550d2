#include "sim/adbd/ShellPacket.h"

namespace ShellPacket {

std::string encode(Id id, std::string_view payload) {
    std::string out;
    out.reserve(headerSize + payload.size());
    out.push_back(char(id));
    const auto length = std::uint32_t(payload.size());
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((length >> shift) & 0xff));
    out += payload;
    return out;
}

std::optional<Packet> Reader::next() {
    if (failed_ || buffer_.size() < headerSize) return std::nullopt;
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length |= std::uint32_t(std::uint8_t(buffer_[std::size_t(1 + i)])) << (8 * i);
    if (length > maxPayloadBytes_) {
        failed_ = true;
        return std::nullopt;
    }
    if (buffer_.size() < headerSize + length) return std::nullopt;
    Packet packet{std::uint8_t(buffer_[0]), buffer_.substr(headerSize, length)};
    buffer_.erase(0, headerSize + length);
    return packet;
}

} // namespace ShellPacket
