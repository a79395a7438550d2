#include "sim/server/ControlMessage.h"

using namespace Qt::Literals::StringLiterals;

namespace {

class Reader {
public:
    explicit Reader(const QByteArray& bytes)
        : m_bytes(bytes) {}
    bool has(qsizetype n) const { return m_position + n <= m_bytes.size(); }
    uint64_t read(int width) {
        uint64_t value = 0;
        for (int i = 0; i < width; ++i)
            value = (value << 8) | uint8_t(m_bytes[m_position++]);
        return value;
    }
    QByteArray take(qsizetype n) {
        const QByteArray part = m_bytes.mid(m_position, n);
        m_position += n;
        return part;
    }
    qsizetype position() const { return m_position; }

private:
    const QByteArray& m_bytes;
    qsizetype m_position = 0;
};

using Decoded = ControlMessages::Decoded;

Decoded malformed(const QString& error) {
    Decoded decoded;
    decoded.status = Decoded::malformed;
    decoded.error = error;
    return decoded;
}

void readPosition(Reader& r, ControlMessage& m) {
    m.x = int32_t(r.read(4));
    m.y = int32_t(r.read(4));
    m.screenWidth = uint16_t(r.read(2));
    m.screenHeight = uint16_t(r.read(2));
}

} // namespace

namespace ControlMessages {

Decoded decode(const QByteArray& buffer) {
    Decoded result;
    if (buffer.isEmpty()) return result;
    Reader r(buffer);
    ControlMessage& m = result.message;
    const uint8_t type = uint8_t(r.read(1));
    m.type = ControlMessage::Type(type);
    // Fixed payload sizes first; variable ones check their length prefix.
    auto need = [&](qsizetype n) { return r.has(n); };
    switch (type) {
    case ControlMessage::key:
        if (!need(13)) return result;
        m.action = uint8_t(r.read(1));
        m.keycode = uint32_t(r.read(4));
        m.repeat = uint32_t(r.read(4));
        m.meta = uint32_t(r.read(4));
        if (m.action > 2) return malformed(u"Unknown key action: %1"_s.arg(m.action));
        break;
    case ControlMessage::text: {
        if (!need(4)) return result;
        const uint32_t length = uint32_t(r.read(4));
        if (length > maxTextBytes) return malformed(u"Text too long: %1 bytes"_s.arg(length));
        if (!need(length)) return result;
        m.string = QString::fromUtf8(r.take(length));
        break;
    }
    case ControlMessage::touch:
        if (!need(31)) return result;
        m.action = uint8_t(r.read(1));
        m.pointer = r.read(8);
        readPosition(r, m);
        m.pressure = uint16_t(r.read(2));
        r.read(4);
        r.read(4);
        if (m.action > 7) return malformed(u"Unknown touch action: %1"_s.arg(m.action));
        break;
    case ControlMessage::scroll:
        if (!need(20)) return result;
        readPosition(r, m);
        m.hscroll = int16_t(r.read(2));
        m.vscroll = int16_t(r.read(2));
        r.read(4);
        break;
    case ControlMessage::back:
    case ControlMessage::getClipboard:
    case ControlMessage::displayPower:
        if (!need(1)) return result;
        m.action = uint8_t(r.read(1));
        break;
    case ControlMessage::expandNotifications:
    case ControlMessage::expandSettings:
    case ControlMessage::collapsePanels:
    case ControlMessage::rotate:
    case ControlMessage::keyboardSettings:
    case ControlMessage::resetVideo:
        break;
    case ControlMessage::setClipboard: {
        if (!need(13)) return result;
        m.sequence = r.read(8);
        m.paste = r.read(1) != 0;
        const uint32_t length = uint32_t(r.read(4));
        if (length > maxClipboardBytes) return malformed(u"Clipboard text too long: %1 bytes"_s.arg(length));
        if (!need(length)) return result;
        m.string = QString::fromUtf8(r.take(length));
        break;
    }
    case ControlMessage::uhidCreate: {
        if (!need(7)) return result;
        r.read(6);
        const uint8_t nameLength = uint8_t(r.read(1));
        if (!need(nameLength + 2)) return result;
        r.take(nameLength);
        const uint16_t size = uint16_t(r.read(2));
        if (!need(size)) return result;
        r.take(size);
        break;
    }
    case ControlMessage::uhidInput: {
        if (!need(4)) return result;
        r.read(2);
        const uint16_t size = uint16_t(r.read(2));
        if (!need(size)) return result;
        r.take(size);
        break;
    }
    case ControlMessage::uhidDestroy:
        if (!need(2)) return result;
        r.read(2);
        break;
    case ControlMessage::startApp: {
        if (!need(1)) return result;
        const uint8_t length = uint8_t(r.read(1));
        if (!need(length)) return result;
        m.string = QString::fromUtf8(r.take(length));
        break;
    }
    case ControlMessage::resizeDisplay:
        if (!need(4)) return result;
        m.width = uint16_t(r.read(2));
        m.height = uint16_t(r.read(2));
        break;
    default:
        return malformed(u"Unknown event type: %1"_s.arg(type));
    }
    result.status = Decoded::complete;
    result.consumed = r.position();
    return result;
}

QByteArray clipboard(const QString& text) {
    const QByteArray utf8 = text.toUtf8().left(int(maxClipboardBytes));
    QByteArray bytes(1, '\0');
    const uint32_t length = uint32_t(utf8.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((length >> shift) & 0xff));
    return bytes + utf8;
}

QByteArray acknowledgement(uint64_t sequence) {
    QByteArray bytes(1, '\1');
    for (int shift = 56; shift >= 0; shift -= 8)
        bytes.append(char((sequence >> shift) & 0xff));
    return bytes;
}

} // namespace ControlMessages
