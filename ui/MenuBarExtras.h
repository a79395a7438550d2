#pragma once

#include "ui/MiniPlayer.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>
#include <QUuid>
#include <memory>
#include <optional>

class AppIconStore;
class AppLibraryStore;
class AppWindows;
class LauncherActions;
struct MobileApp;

// One tray item per app the user pinned ("Vantle.menuBarApps.v1", in pinning order). A left click
// hides the app's visible window or opens it next to the item; a right click offers open or show,
// close, the lock and unpinning. Items follow the library, the unread marks, the icons and the open
// windows. While an app plays, the mini player is one more item. On a desktop without a tray nothing
// is shown and `isAvailable` is false. Main thread.
class MenuBarExtras final : public QObject {
    Q_OBJECT
public:
    // The menu-bar item of the reference design is 18 points; the tray scales the image down.
    static constexpr int iconPixels = 36;

    MenuBarExtras(AppLibraryStore& store, LauncherActions& actions, AppWindows& windows, AppIconStore& icons,
                  QObject* parent = nullptr);
    ~MenuBarExtras() override;

    static bool isAvailable();
    // Follows the store, the icons and the windows, and builds the items once.
    void attach();
    // Makes the items equal to the pinned ids that still name a library entry, redraws each and
    // updates the mini player.
    void rebuild();
    // Shows, refreshes or removes the mini player (also after "VantleMiniPlayer" changed).
    void updatePlayer() { m_player.update(); }
    MiniPlayer& player() { return m_player; }
    void togglePinned(const QUuid& appID);

    // The stored list; entries that are no UUID are skipped.
    static QList<QUuid> pinnedIDs();
    static void setPinnedIDs(const QList<QUuid>& ids);

    QSystemTrayIcon* item(const QUuid& appID) const;
    QList<QUuid> itemIDs() const { return m_items.keys(); }

    // The item's image: the app's icon clipped to a rounded square, or a purple rounded square with
    // the name's first letter; a red dot at the top-right corner while the app has unread news.
    static QImage itemImage(const std::optional<QImage>& icon, const QString& name, bool unread,
                            int pixels = iconPixels);

    // A left click on the item of `appID` whose frame on the screen is `itemFrame`.
    void appItemClicked(const QUuid& appID, const QRect& itemFrame);
    // The right-click menu's entries for the app as it is now, in order.
    void fillMenu(QMenu& menu, const QUuid& appID);

private:
    struct Item;
    void open(const MobileApp& app, const QRect& itemFrame);
    void redraw(const QUuid& appID, Item& item);

    AppLibraryStore& m_store;
    LauncherActions& m_actions;
    AppWindows& m_windows;
    AppIconStore& m_icons;
    QHash<QUuid, std::shared_ptr<Item>> m_items;
    MiniPlayer m_player;
};
