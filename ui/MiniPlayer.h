#pragma once

#include "core/AndroidMedia.h"

#include <QImage>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QUuid>
#include <memory>

class AppLibraryStore;
class AppWindows;
class LauncherActions;

// The tray item that shows what an app plays: while "VantleMiniPlayer" is on (the default), the
// store has a now-playing record and its app still has a window. Its controls are the app's media
// keys (`LauncherActions::mediaKey`, the dock's path to the window's `sendMediaKey`). Owned by
// `MenuBarExtras`, which calls `update()` on every change it follows. Main thread only.
class MiniPlayer final : public QObject {
    Q_OBJECT
public:
    static constexpr int iconPixels = 36;
    // Titles this long or longer are cut to `keptCharacters` and "…".
    static constexpr int cutFromCharacters = 23, keptCharacters = 21;

    MiniPlayer(AppLibraryStore& store, LauncherActions& actions, AppWindows& windows,
               QObject* parent = nullptr);
    ~MiniPlayer() override;

    // Shows, refreshes or removes the item.
    void update();

    // The item while it shows, else nothing.
    QSystemTrayIcon* item() const { return m_tray.get(); }
    // The item's title: a space, then the media title, cut when it is too long.
    QString title() const { return m_title; }
    static QString titleFor(const QString& mediaTitle);
    // A note while playing, two bars while paused.
    static QImage image(bool playing, int pixels = iconPixels);
    // The menu's entries for what plays now, in order.
    void fillMenu(QMenu& menu);

private:
    void remove();

    AppLibraryStore& m_store;
    LauncherActions& m_actions;
    AppWindows& m_windows;
    QString m_title;
    std::unique_ptr<QMenu> m_menu;           // outlives the tray icon that shows it
    std::unique_ptr<QSystemTrayIcon> m_tray; // reset before the menu
};
