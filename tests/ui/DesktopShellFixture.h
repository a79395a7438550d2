#pragma once

#include "RecordingAppWindows.h"
#include "RecordingLauncherActions.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDateTime>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

// xdotool pressing keys and clicking on the program's X server.
inline bool xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// A real XEmbed tray (trayer) at the top right of the program's X server, ending with the returned process.
inline std::unique_ptr<QProcess> startTray() {
    auto tray = std::make_unique<QProcess>();
    tray->start(QStringLiteral("trayer"), QStringLiteral("--edge top --align right --widthtype request "
                                                         "--height 24 --SetDockType false")
                                              .split(u' '));
    waitUntil(&QSystemTrayIcon::isSystemTrayAvailable, 10000);
    return tray;
}

// Where the tray host put the item once its XEmbed window is viewable and in place (clicks before that are
// lost).
inline QRect shown(QSystemTrayIcon* item) {
    const auto viewable = [item] {
        for (const QWidget* widget : QApplication::topLevelWidgets()) {
            if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") != 0 ||
                QRect(widget->mapToGlobal(QPoint()), widget->size()) != item->geometry())
                continue;
            xcb_connection_t* x = xcb_connect(nullptr, nullptr);
            xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
                x, xcb_get_window_attributes(x, xcb_window_t(widget->winId())), nullptr);
            const bool mapped = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
            xcb_disconnect(x);
            return mapped;
        }
        return false;
    };
    // trayer grows leftwards as items arrive: an item is placed once it lies on the screen and has
    // stayed put for a moment (a click at a place it is leaving is lost).
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QRect settled;
    waitUntil([&] {
        const QRect now = item->geometry();
        const bool still = now == settled;
        settled = now;
        if (still) return screen.contains(now) && viewable();
        QTest::qWait(100);
        return false;
    });
    return item->geometry();
}

// Right-clicks `frame`, again if the tray host lost the click (as within 0.3 s of items going); the menu.
inline QMenu* rightClick(const QRect& frame) {
    const auto popup = [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); };
    for (int attempt = 0; attempt < 3 && !popup(); ++attempt) {
        xdotool({QStringLiteral("mousemove"), QString::number(frame.center().x()),
                 QString::number(frame.center().y()), QStringLiteral("click"), QStringLiteral("3")});
        waitUntil([&] { return popup() != nullptr; }, 2000);
    }
    return popup();
}

// A menu's entries, "-" for a separator.
inline QStringList texts(const QMenu& menu) {
    QStringList result;
    for (const QAction* action : menu.actions())
        result.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return result;
}

// VANTLE_SCREENSHOTS=<folder> keeps pictures of the tray for scripts/take-screenshots.
inline void keepPicture(const QString& file, QRect area, int scale = 1) {
    const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS");
    if (folder.isEmpty()) return;
    QTest::qWait(300); // the tray host repaints after embedding
    area &= QRect(0, 0, 1280, 800);
    QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .scaled(area.size() * scale)
        .save(folder + u'/' + file);
}

// A tray item's image as the tray shows it.
inline QImage iconImage(const QSystemTrayIcon& item, int pixels) {
    return item.icon().pixmap(pixels).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// An Android app as the library holds it, added now.
inline MobileApp androidApp(const QString& name, const QString& path, const QUuid& id = QUuid::createUuid()) {
    return {id, name, MobilePlatform::android, path, {}, QDateTime::currentDateTimeUtc()};
}

// A real store on private settings and the recording doubles of the application and its windows.
class DesktopShellFixture : public ::testing::Test {
protected:
    MobileApp add(const QString& name, bool favourite = false, const QString& path = {}) {
        MobileApp app = androidApp(name, path.isEmpty() ? QStringLiteral("/apks/") + name : path);
        app.isFavorite = favourite;
        store.setApps(QList<MobileApp>(store.apps()) << app);
        return app;
    }

    ScopedSettings settings;
    AppLibraryStore store;
    RecordingLauncherActions actions;
    RecordingAppWindows windows;
};
