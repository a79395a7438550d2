#pragma once

#include "ui/LauncherRules.h"

#include <QImage>
#include <QList>
#include <QUrl>
#include <QWidget>
#include <functional>

class AppIconStore;
class AppLibraryStore;
class AppSection;
class AppTile;
class AppUpdates;
class LauncherActions;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class RuntimeSetupView;
class SettingsActions;
class SettingsView;
class StatusPill;
class VantleDock;

// What the panel reads from its surroundings; each member left empty takes the real one.
struct MenuPanelEnvironment {
    std::function<bool()> runtimeComplete;                   // the current Android is complete
    std::function<QList<QUrl>(QWidget* parent)> chooseFiles; // the file chooser for APK files
    std::function<int()> localHour;                          // for the greeting
    AppIconStore* icons = nullptr;
    AppUpdates* updates = nullptr; // the tiles' update marks and menu items; none without it
    // The settings pages and the menu's "Settings"; none without it.
    SettingsActions* settings = nullptr;
    std::function<QString(QWidget* parent)> choosePhoto{}; // the wallpaper's file chooser
};

// The home panel's launcher: greeting and Android's state, then the Android set-up, the empty
// library's invitation or the apps (search, favourites, all apps or results), and the dock with
// "Add an APK" and the panel's menu. A view of the store: it keeps nothing of its own, redraws
// when the store changes and hands every action to the store or to the application's actions.
class MenuPanel final : public QWidget {
    Q_OBJECT
public:
    using Environment = MenuPanelEnvironment;

    MenuPanel(AppLibraryStore& store, LauncherActions& actions, Environment environment = {},
              QWidget* parent = nullptr);

    LauncherRules::Page page() const { return m_page; }
    QString greeting() const;
    // The sections shown now, top to bottom; empty unless the apps are shown.
    const QList<AppSection*>& sections() const { return m_sections; }
    QList<AppTile*> tiles() const;
    // "Nothing matches …" while a search finds nothing, else empty.
    QString nothingMatchesText() const;
    QLineEdit* searchField() const { return m_search; }
    QAction* clearSearchAction() const { return m_clearSearch; }
    QMenu* panelMenu() const { return m_menu; }
    QToolButton* addButton() const { return m_addButton; }
    QPushButton* chooseButton() const { return m_chooseButton; }
    bool isDropOverlayShown() const;
    RuntimeSetupView* setupView() const { return m_setupView; }
    StatusPill* statusPill() const { return m_pill; }
    VantleDock* dock() const { return m_dock; }

    // Re-reads everything the launcher shows; the store's signals call it.
    void render();

    // The settings pages in place of the apps (made the first time), on the page last shown;
    // "VantleShowSettingsPage" calls it. Nothing without the settings' actions.
    void showSettings();
    void showLauncher();
    bool isShowingSettings() const { return m_showingSettings; }
    SettingsView* settingsView() const { return m_settingsView; }
    // The wallpaper as drawn now; a null image for none.
    const QImage& wallpaper() const { return m_wallpaper; }

Q_SIGNALS:
    // Escape with nothing left to undo.
    void dismissRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeEmptyPage();
    QWidget* makeLibraryPage();
    QWidget* makeDock();
    void fillPanelMenu();
    void chooseAndAdd();
    // Return in the search field opens the first result.
    void launchFirstResult();
    LauncherRules::Page pageNow() const;
    void showSetup();
    void rebuildSections();
    void followSearch();
    void applyStyle();
    void followSettings();

    AppLibraryStore& m_store;
    LauncherActions& m_actions;
    Environment m_environment;
    LauncherRules::Page m_page = LauncherRules::Page::library;
    QLabel* m_greeting = nullptr;
    QLabel* m_statusLine = nullptr;
    StatusPill* m_pill = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_setupPage = nullptr;
    RuntimeSetupView* m_setupView = nullptr; // made the first time Android needs setting up
    QWidget* m_emptyPage = nullptr;
    QWidget* m_libraryPage = nullptr;
    QLineEdit* m_search = nullptr;
    QAction* m_clearSearch = nullptr;
    QAction* m_searchMark = nullptr;
    QLabel* m_emptyMark = nullptr;
    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_sectionsLayout = nullptr;
    QList<AppSection*> m_sections;
    QLabel* m_nothingMatches = nullptr;
    QPushButton* m_chooseButton = nullptr;
    VantleDock* m_dock = nullptr;
    QToolButton* m_addButton = nullptr;
    QToolButton* m_menuButton = nullptr;
    QMenu* m_menu = nullptr;
    QLabel* m_dropOverlay = nullptr;
    SettingsView* m_settingsView = nullptr; // made the first time Settings opens
    bool m_showingSettings = false;
    QImage m_wallpaper;
};
