#pragma once

#include <QString>
#include <functional>

class VantleLog;

// Messages from the display server on the control socket (scrcpy 5.0.1's DeviceMessageWriter),
// first byte = type, numbers big-endian:
//
//   0 clipboard      | length u32 (<= 0x7FFFFF) | UTF-8 text |
//   1 clipboard ack  | sequence u64 |
//   2 UHID output    | id u16 | size u16 | size bytes |
//
// Any other type, an oversized clipboard or a short read ends the reader: the stream has no way to
// find the next message boundary then.
namespace DeviceMessages {

enum class End { closed, unknownType, oversized };

constexpr uint32_t maxClipboardBytes = 0x7FFFFF;

// Reads messages from the blocking socket until one of the ends above, handing every clipboard
// text to `clipboard` on the calling thread. Invalid UTF-8 is replaced, never refused.
End read(int fd, const std::function<void(QString)>& clipboard);

// The Android clipboard arriving on the desktop (GUI thread): an empty text, or one that equals
// the desktop clipboard, changes nothing; otherwise the clipboard takes it and the log says so.
void copyToDesktop(const QString& text, VantleLog& log);

} // namespace DeviceMessages
