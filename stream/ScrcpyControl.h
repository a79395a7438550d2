#pragma once

#include <QByteArray>
#include <QPointF>
#include <QSize>
#include <QString>
#include <cstdint>

// Encoders for the control messages Vantle sends to the display server (scrcpy 5.0.1's control
// protocol, big-endian). Pure functions.
namespace ScrcpyControl {

enum class KeyAction : uint8_t { down = 0, up = 1 };
enum class TouchAction : uint8_t { down = 0, up = 1, move = 2 };
enum class CopyKey : uint8_t { copy = 1, cut = 2 };

QByteArray key(KeyAction action, uint32_t keycode, uint32_t meta);
QByteArray text(const QString& text);
QByteArray touch(TouchAction action, QPointF point, QSize frameSize);
QByteArray position(QPointF point, QSize size);
QByteArray scroll(QPointF point, QSize size, float horizontal, float vertical);
QByteArray setClipboard(const QString& text, bool paste, uint64_t sequence);
QByteArray startApp(const QString& name);
QByteArray resizeDisplay(int width, int height);
uint16_t u16fp(float value);
int16_t i16fp(float value);

QByteArray backDown();
QByteArray backUp();
QByteArray getClipboard(CopyKey key);
QByteArray resetVideo();

} // namespace ScrcpyControl
