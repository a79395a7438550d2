#include "sim/adbd/AdbMessage.h"

#include <algorithm>
#include <cstdio>

namespace Adb {
namespace {

std::uint32_t readWord(const std::string& bytes, std::size_t offset) {
    const auto byte = [&](std::size_t i) { return std::uint32_t(std::uint8_t(bytes[offset + i])); };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

void appendWord(std::string& out, std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((word >> shift) & 0xff));
}

bool known(std::uint32_t command) {
    switch (command) {
    case A_SYNC:
    case A_CNXN:
    case A_AUTH:
    case A_OPEN:
    case A_OKAY:
    case A_CLSE:
    case A_WRTE:
    case A_STLS:
        return true;
    default:
        return false;
    }
}

} // namespace

std::uint32_t checksum(std::string_view payload) {
    std::uint32_t sum = 0;
    for (char c : payload)
        sum += std::uint8_t(c);
    return sum;
}

std::string encode(const Message& message) {
    std::string out;
    out.reserve(headerSize + message.payload.size());
    appendWord(out, message.command);
    appendWord(out, message.arg0);
    appendWord(out, message.arg1);
    appendWord(out, std::uint32_t(message.payload.size()));
    appendWord(out, checksum(message.payload));
    appendWord(out, message.command ^ 0xffffffffu);
    out += message.payload;
    return out;
}

std::string commandName(std::uint32_t command) {
    if (known(command)) {
        std::string name;
        appendWord(name, command);
        return name;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", command);
    return hex;
}

MessageReader::MessageReader(std::uint32_t maxPayloadBytes)
    : maxPayloadBytes_(maxPayloadBytes) {}

bool MessageReader::checkHeader() {
    const std::uint32_t command = readWord(buffer_, 0);
    payloadLength_ = readWord(buffer_, 12);
    if (readWord(buffer_, 20) != (command ^ 0xffffffffu))
        error_ = "bad magic for " + commandName(command);
    else if (!known(command))
        error_ = "unknown command " + commandName(command);
    else if (payloadLength_ > maxPayloadBytes_)
        error_ = commandName(command) + " payload of " + std::to_string(payloadLength_) + " bytes exceeds " +
                 std::to_string(maxPayloadBytes_);
    return error_.empty();
}

std::size_t MessageReader::feed(std::string_view bytes) {
    if (failed() || complete_) return 0;
    std::size_t taken = 0;
    if (!headerDone_) {
        taken = std::min(bytes.size(), headerSize - buffer_.size());
        buffer_.append(bytes.substr(0, taken));
        if (buffer_.size() < headerSize) return taken;
        if (!checkHeader()) return taken;
        headerDone_ = true;
        buffer_.reserve(headerSize + payloadLength_);
    }
    const std::size_t missing = headerSize + payloadLength_ - buffer_.size();
    const std::size_t more = std::min(bytes.size() - taken, missing);
    buffer_.append(bytes.substr(taken, more));
    taken += more;
    if (buffer_.size() == headerSize + payloadLength_) {
        if (checksumChecked_ &&
            checksum(std::string_view(buffer_).substr(headerSize)) != readWord(buffer_, 16))
            error_ = "checksum mismatch for " + commandName(readWord(buffer_, 0));
        else
            complete_ = true;
    }
    return taken;
}

std::optional<Message> MessageReader::take() {
    if (!complete_) return std::nullopt;
    Message message{readWord(buffer_, 0), readWord(buffer_, 4), readWord(buffer_, 8),
                    buffer_.substr(headerSize)};
    buffer_.clear();
    headerDone_ = false;
    complete_ = false;
    payloadLength_ = 0;
    return message;
}

} // namespace Adb
