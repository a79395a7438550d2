#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// One control message from the client, decoded from the control socket. All numbers big-endian.
//
//   type 0  key          action u8 | keycode u32 | repeat u32 | meta u32                 (14 bytes)
//   type 1  text         length u32 | UTF-8 bytes (length <= 300)                       (5 + n)
//   type 2  touch        action u8 | pointer u64 | x i32 | y i32 | w u16 | h u16 |
//                        pressure u16 | action button u32 | buttons u32                 (32)
//   type 3  scroll       x i32 | y i32 | w u16 | h u16 | hscroll i16 | vscroll i16 |
//                        buttons u32                                                     (21)
//   type 4  back         action u8                                                      (2)
//   type 5-7, 11, 15, 17 no payload (panels, rotate, keyboard settings, reset video)      (1)
//   type 8  get clipboard copy key u8                                                   (2)
//   type 9  set clipboard sequence u64 | paste u8 | length u32 | UTF-8 bytes             (14 + n)
//   type 10 display power on u8                                                         (2)
//   type 12 uhid create  id u16 | vendor u16 | product u16 | name len u8 | name |
//                        descriptor size u16 | descriptor
//   type 13 uhid input   id u16 | size u16 | data
//   type 14 uhid destroy id u16                                                          (3)
//   type 16 start app    length u8 | name bytes                                          (2 + n)
//   type 21 resize display width u16 | height u16                                        (5)
//
// Based on the scrcpy 5.0.1 control protocol as Vantle's client writes it.
struct ControlMessage {
    enum Type : uint8_t {
        key = 0,
        text = 1,
        touch = 2,
        scroll = 3,
        back = 4,
        expandNotifications = 5,
        expandSettings = 6,
        collapsePanels = 7,
        getClipboard = 8,
        setClipboard = 9,
        displayPower = 10,
        rotate = 11,
        uhidCreate = 12,
        uhidInput = 13,
        uhidDestroy = 14,
        keyboardSettings = 15,
        startApp = 16,
        resetVideo = 17,
        resizeDisplay = 21
    };
    Type type = key;
    uint8_t action = 0;
    uint32_t keycode = 0, repeat = 0, meta = 0;
    int32_t x = 0, y = 0;
    uint16_t screenWidth = 0, screenHeight = 0;
    uint16_t pressure = 0;
    uint64_t pointer = 0;
    int16_t hscroll = 0, vscroll = 0;
    uint64_t sequence = 0;
    bool paste = false;
    QString string;                 // text, clipboard text, app name
    uint16_t width = 0, height = 0; // resize
};

namespace ControlMessages {

inline constexpr uint32_t maxTextBytes = 300;
inline constexpr uint32_t maxClipboardBytes = (1u << 18) - 14;

struct Decoded {
    enum Status { complete, needMore, malformed } status = needMore;
    ControlMessage message;
    qsizetype consumed = 0;
    QString error; // for malformed input
};

// Decodes the first message in `buffer`.
Decoded decode(const QByteArray& buffer);

// Device messages to the client: clipboard text (type 0) and clipboard acknowledgement (type 1).
QByteArray clipboard(const QString& text);
QByteArray acknowledgement(uint64_t sequence);

} // namespace ControlMessages
