#include "platform/CommandFrame.h"

#include <QtEndian>

namespace CommandFrame {

QByteArray encode(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray frame(4, '\0');
    qToBigEndian<quint32>(quint32(utf8.size()), frame.data());
    return frame + utf8;
}

Decoded decode(const QByteArray& buffer) {
    if (buffer.size() < 4) return {};
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > maxTextBytes) return {Status::invalid, {}, 0};
    if (buffer.size() < 4 + qsizetype(length)) return {};
    return {Status::complete, QString::fromUtf8(buffer.constData() + 4, length), 4 + qsizetype(length)};
}

} // namespace CommandFrame
