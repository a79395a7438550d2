#pragma once

#include "core/Models.h"

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

class AppIconStore;
class AppLibraryStore;
class AppUpdates;
class LauncherActions;
class QMenu;

// One app in the launcher: its icon and name, a dot while its window is open, a turning ring
// while it is being opened, a red dot for unread notifications, a padlock when it is locked. A
// click opens it; the context menu holds the entry's own actions. Reads its marks from the store
// and its icon from the icon store, redrawing when either changes.
class AppTile final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize tileSize{76, 96};

    AppTile(MobileApp app, AppLibraryStore& store, LauncherActions& actions, AppIconStore& icons,
            QWidget* parent = nullptr);

    const MobileApp& app() const { return m_app; }
    bool isRunningMarked() const;
    bool isLaunchingMarked() const;
    bool isLockedMarked() const;
    bool hasIcon() const;
    // Shows the entry's update ("Update available", "Update to …", a turning ring while it
    // installs) from `updates`, which must outlive the tile; without it the tile shows none.
    void followUpdates(AppUpdates* updates);
    std::optional<QString> updateVersion() const; // the version on offer, if any
    bool isUpdatingMarked() const;

    // The context menu, in order: favourites, the tray item, the update, the lock, the backup, reveal the
    // APK, remove, uninstall.
    std::unique_ptr<QMenu> makeContextMenu();
    // "Show APK in …" with the name of the desktop's file manager.
    static QString revealTitle();

    QSize sizeHint() const override { return tileSize; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void followMarks();

    MobileApp m_app;
    AppLibraryStore& m_store;
    LauncherActions& m_actions;
    AppIconStore& m_icons;
    AppUpdates* m_updates = nullptr;
    QTimer m_spinner; // turns the launching ring
    int m_spinAngle = 0;
    bool m_hovered = false;
    bool m_pressed = false;
};
