#include "windows/WindowCapture.h"

#include "core/VantleLog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

using namespace Qt::StringLiterals;

int WindowCapture::saveVisibleWindows(const QString& prefix) {
    QList<QWidget*> shown;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->width() > minSide && window->height() > minSide)
            shown.append(window);
    if (shown.isEmpty()) {
        VantleLog::main().write(u"capture: no visible windows"_s);
        return 0;
    }
    QDir().mkpath(QFileInfo(prefix).absolutePath());
    int written = 0;
    for (int n = 1; n <= shown.size(); ++n) {
        QWidget* window = shown[n - 1];
        const QString path = prefix + u'-' + QString::number(n) + u".png"_s;
        // The widgets paint themselves into the image, so a window covered by another comes out whole.
        if (!window->grab().save(path, "PNG")) {
            VantleLog::main().write(u"capture: could not write "_s + path);
            continue;
        }
        ++written;
        VantleLog::main().write(u"capture: "_s + path + u' ' + QString::number(window->width()) + u'x' +
                                QString::number(window->height()) + u" title="_s + window->windowTitle());
    }
    return written;
}
