#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// One command on the channel's byte stream:
//
//   +----------------------+------------------------+
//   | length (u32, big-end)| UTF-8 text, length bytes|
//   +----------------------+------------------------+
//
// The receiver answers each complete frame with the single byte 0x06 (acknowledge). A length over
// maxTextBytes is answered with 0x15 (refused: too long) and the connection is closed, since the
// rest of the stream cannot be framed.
namespace CommandFrame {

inline constexpr quint32 maxTextBytes = 64 * 1024;
inline constexpr char acknowledge = 0x06;
inline constexpr char refusedTooLong = 0x15;

QByteArray encode(const QString& text);

enum class Status { complete, incomplete, invalid };
struct Decoded {
    Status status = Status::incomplete;
    QString text;
    qsizetype consumed = 0; // bytes of the buffer that made up this frame
};
// Decodes the first frame of `buffer`. A length over maxTextBytes is invalid.
Decoded decode(const QByteArray& buffer);

} // namespace CommandFrame
