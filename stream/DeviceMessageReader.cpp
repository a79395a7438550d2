#include "stream/DeviceMessageReader.h"

#include "core/VantleLog.h"
#include "stream/SocketIO.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace DeviceMessages {
namespace {

enum Type : uint8_t { clipboardType = 0, ackClipboardType = 1, uhidOutputType = 2 };

// What a person counts as characters: grapheme clusters ("é" written as e + accent is one).
int characterCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

} // namespace

End read(int fd, const std::function<void(QString)>& clipboard) {
    for (;;) {
        const auto type = readExactly(fd, 1);
        if (!type) return End::closed;
        switch (uint8_t(type->at(0))) {
        case clipboardType: {
            const auto length = readExactly(fd, 4);
            if (!length) return End::closed;
            const uint32_t size = readBE(*length, 0);
            if (size > maxClipboardBytes) return End::oversized;
            const auto text = readExactly(fd, qsizetype(size));
            if (!text) return End::closed;
            clipboard(QString::fromUtf8(*text));
            break;
        }
        case ackClipboardType:
            if (!readExactly(fd, 8)) return End::closed;
            break;
        case uhidOutputType: {
            const auto header = readExactly(fd, 4); // id u16, size u16
            if (!header) return End::closed;
            const qsizetype size = qsizetype(uint8_t(header->at(2))) << 8 | uint8_t(header->at(3));
            if (size != 0 && !readExactly(fd, size)) return End::closed;
            break;
        }
        default:
            return End::unknownType;
        }
    }
}

void copyToDesktop(const QString& text, VantleLog& log) {
    if (text.isEmpty()) return;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QClipboard* desktop = QGuiApplication::clipboard();
    if (desktop->text() == text) return;
    desktop->clear();
    desktop->setText(text);
    log.write(u"Vantle: Android clipboard copied to Mac ("_s + QString::number(characterCount(text)) +
              u" chars)"_s);
}

} // namespace DeviceMessages
