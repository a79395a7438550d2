#include "stream/ScrcpyControl.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>

// Control messages, Mac to Android, as scrcpy 5.0.1's ControlMessageReader expects them. The first
// byte is the type; every number is big-endian.
//
//   0 key        | action u8 | keycode u32 | repeat u32 = 0 | meta u32 |                    14 bytes
//   1 text       | length u32 | UTF-8 (<= 300) |                                           5 + n
//   2 touch      | action u8 | pointer u64 = -2 | position (12) | pressure u16 |
//                | action button u32 = 0 | buttons u32 = 0 |                               32 bytes
//   3 scroll     | position (12) | hscroll i16 | vscroll i16 | buttons u32 = 0 |           21 bytes
//   4 back       | action u8 |                                                             2 bytes
//   8 get clip   | copy key u8 |                                                           2 bytes
//   9 set clip   | sequence u64 | paste u8 | length u32 | UTF-8 (<= 200000) |             14 + n
//  16 start app  | length u8 | name (<= 255) |                                             2 + n
//  17 reset video                                                                          1 byte
//  21 resize     | width u16 | height u16 |                                                5 bytes
//
//   position = x i32 | y i32 | screen width u16 | screen height u16
namespace ScrcpyControl {
namespace {

enum Type : uint8_t {
    injectKeycode = 0,
    injectText = 1,
    injectTouch = 2,
    injectScroll = 3,
    backOrScreenOn = 4,
    getClipboardType = 8,
    setClipboardType = 9,
    startAppType = 16,
    resetVideoType = 17,
    resizeDisplayType = 21,
};

constexpr qsizetype maxTextBytes = 300;
constexpr qsizetype maxClipboardBytes = 200000;
constexpr qsizetype maxAppNameBytes = 255;

void put8(QByteArray& out, uint8_t value) {
    out.append(char(value));
}
void put16(QByteArray& out, uint16_t value) {
    char bytes[2];
    qToBigEndian(value, bytes);
    out.append(bytes, 2);
}
void put32(QByteArray& out, uint32_t value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}
void put64(QByteArray& out, uint64_t value) {
    char bytes[8];
    qToBigEndian(value, bytes);
    out.append(bytes, 8);
}
// UTF-8 cut at a byte count, even inside a character: the server reads exactly `length` bytes.
QByteArray utf8Prefix(const QString& text, qsizetype maxBytes) {
    return text.toUtf8().left(maxBytes);
}

uint16_t clampU16(int value) {
    return uint16_t(std::clamp(value, 0, 0xFFFF));
}

} // namespace

uint16_t u16fp(float value) {
    if (value >= 1.0f) return 0xFFFF;
    return uint16_t(std::max(value, 0.0f) * 65536.0f);
}

int16_t i16fp(float value) {
    if (value >= 1.0f) return 0x7FFF;
    return int16_t(std::trunc(std::max(value, -1.0f) * 32768.0f));
}

QByteArray key(KeyAction action, uint32_t keycode, uint32_t meta) {
    QByteArray out;
    put8(out, injectKeycode);
    put8(out, uint8_t(action));
    put32(out, keycode);
    put32(out, 0); // repeat
    put32(out, meta);
    return out;
}

QByteArray text(const QString& text) {
    const QByteArray utf8 = utf8Prefix(text, maxTextBytes);
    QByteArray out;
    put8(out, injectText);
    put32(out, uint32_t(utf8.size()));
    out.append(utf8);
    return out;
}

QByteArray position(QPointF point, QSize size) {
    QByteArray out;
    put32(out, uint32_t(int32_t(std::lround(point.x()))));
    put32(out, uint32_t(int32_t(std::lround(point.y()))));
    put16(out, clampU16(size.width()));
    put16(out, clampU16(size.height()));
    return out;
}

QByteArray touch(TouchAction action, QPointF point, QSize frameSize) {
    QByteArray out;
    put8(out, injectTouch);
    put8(out, uint8_t(action));
    put64(out, 0xFFFFFFFFFFFFFFFEull); // the generic finger
    out.append(position(point, frameSize));
    put16(out, action == TouchAction::up ? 0 : 0xFFFF); // pressure
    put32(out, 0);                                      // action button
    put32(out, 0);                                      // buttons
    return out;
}

QByteArray scroll(QPointF point, QSize size, float horizontal, float vertical) {
    QByteArray out;
    put8(out, injectScroll);
    out.append(position(point, size));
    put16(out, uint16_t(i16fp(horizontal)));
    put16(out, uint16_t(i16fp(vertical)));
    put32(out, 0); // buttons
    return out;
}

QByteArray setClipboard(const QString& text, bool paste, uint64_t sequence) {
    const QByteArray utf8 = utf8Prefix(text, maxClipboardBytes);
    QByteArray out;
    put8(out, setClipboardType);
    put64(out, sequence);
    put8(out, paste ? 1 : 0);
    put32(out, uint32_t(utf8.size()));
    out.append(utf8);
    return out;
}

QByteArray startApp(const QString& name) {
    const QByteArray utf8 = utf8Prefix(name, maxAppNameBytes);
    QByteArray out;
    put8(out, startAppType);
    put8(out, uint8_t(utf8.size()));
    out.append(utf8);
    return out;
}

QByteArray resizeDisplay(int width, int height) {
    QByteArray out;
    put8(out, resizeDisplayType);
    put16(out, clampU16(width));
    put16(out, clampU16(height));
    return out;
}

QByteArray backDown() {
    return QByteArray("\x04\x00", 2);
}
QByteArray backUp() {
    return QByteArray("\x04\x01", 2);
}
QByteArray getClipboard(CopyKey key) {
    QByteArray out;
    put8(out, getClipboardType);
    put8(out, uint8_t(key));
    return out;
}
QByteArray resetVideo() {
    return QByteArray(1, char(resetVideoType));
}

} // namespace ScrcpyControl
