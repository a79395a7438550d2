#pragma once

#include "ui/MenuPanel.h"

#include <QMenu>
#include <QObject>
#include <QRect>
#include <memory>
#include <optional>

class QSystemTrayIcon;

// The main tray item and the floating panel it opens. With a system tray the panel is a
// frameless floating window placed by the icon, kept when closed and put away when another
// application becomes active; without one it is an ordinary window shown at start. Whenever the
// panel becomes the active window Android may start warming up. Main thread.
class HomePanelController final : public QObject {
    Q_OBJECT
public:
    enum class Presentation { floating, window };
    // Said once in the panel's status line when it starts as a window.
    static constexpr auto noTrayMessage = QLatin1StringView(
        "This desktop has no system tray: Vantle stays a window and apps cannot be shown in the tray.");

    HomePanelController(AppLibraryStore& store, LauncherActions& actions,
                        MenuPanel::Environment environment = {}, QObject* parent = nullptr);
    ~HomePanelController() override;

    // The desktop's way: floating under a tray icon when there is a tray.
    static Presentation availablePresentation();
    // The one panel, made on the first call, with the window kind of `presentation`.
    MenuPanel& makePanel(Presentation presentation = availablePresentation());
    // Makes the panel and, floating, the tray icon; as a window, shows the panel at once and says
    // in its status line that there is no tray.
    void start(Presentation presentation = availablePresentation());

    // Shows and activates the panel; floating, below (or above) `anchor` on its screen.
    void showPanel(std::optional<QRect> anchor = std::nullopt);
    void togglePanel(std::optional<QRect> anchor = std::nullopt);
    QSystemTrayIcon* trayIcon() const { return m_tray.get(); }
    // The user-interface snapshot images: the panel as "menu-panel.png" and the tray glyph as
    // "snapshots/glyph.png" in `folder`. Returns what went wrong, or nothing.
    QString writeSnapshots(const QString& folder);

    // Top-left corner of a panel of `size` opened from `anchor`: centred on it horizontally, at
    // least 6 pixels inside the screen's edges; below the anchor when it is in the upper half of
    // the screen (a top bar), above it otherwise.
    static QPoint placement(const QRect& anchor, const QRect& screen, const QSize& size);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void putAwayUnlessActive();

    AppLibraryStore& m_store;
    LauncherActions& m_actions;
    MenuPanel::Environment m_environment;
    Presentation m_presentation = Presentation::window;
    std::unique_ptr<MenuPanel> m_panel;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QMenu m_trayMenu;
};
