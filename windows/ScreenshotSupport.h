#pragma once

// What the programs that save Vantle's widgets as PNG files for a person to look at share (the
// panel's and the app window's): letting animations and loads settle, and a dark desktop palette.
#include <QColor>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPalette>

namespace ScreenshotSupport {

inline void settle(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A dark desktop as Fusion draws it, for the "-dark" files.
inline QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x1c, 0x1d, 0x21), text(0xf2, 0xf3, 0xf5);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(0x2a, 0x2c, 0x31));
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x2a, 0x2c, 0x31));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x5b, 0x9c, 0xff));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9f, 0xa8));
    return palette;
}

} // namespace ScreenshotSupport
