#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>

class AppLibraryStore;
class AppUpdates;
class LauncherActions;
class QLabel;
class QStackedWidget;
class QButtonGroup;
class QToolButton;
class QVBoxLayout;
class SettingsActions;

// What the settings pages read from their surroundings; each member left empty takes the real one.
struct SettingsViewEnvironment {
    std::function<QString(QWidget* parent)>
        choosePhoto;               // the file chooser for the wallpaper; empty: cancelled
    AppUpdates* updates = nullptr; // the updates page's status line; none without it
};

// The settings pages, in order "General", "Android", "App lock", "Updates", "About". Each control
// shows its setting as stored and, when changed, stores it and applies it at once
// (`SettingEffects`), or calls the application (`SettingsActions`, `LauncherActions`). Controls
// bound to a setting carry the setting's key as their object name. The page shown is remembered in
// "VantleSettingsPage". Main thread.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    using Environment = SettingsViewEnvironment;
    static const QStringList& pageTitles();

    SettingsView(AppLibraryStore& store, LauncherActions& launcher, SettingsActions& actions,
                 Environment environment = {}, QWidget* parent = nullptr);

    int currentPage() const;
    // Shows the page (clamped to the five) and remembers it.
    void showPage(int index);
    QWidget* page(int index) const;
    // The page's button in the row above the pages (its symbol over its title).
    QToolButton* pageButton(int index) const;
    // Re-reads every control from the settings (a command or another window may have changed them).
    void reload();

Q_SIGNALS:
    // "Done": back to the apps.
    void doneRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeGeneral();
    QWidget* makeAndroid();
    QWidget* makeAppLock();
    QWidget* makeUpdates();
    QWidget* makeAbout();
    void fillVersions();
    void fillLockedApps();
    void chooseWallpaper();
    void applyStyle();

    AppLibraryStore& m_store;
    LauncherActions& m_launcher;
    SettingsActions& m_actions;
    Environment m_environment;
    QButtonGroup* m_tabs = nullptr;
    QStackedWidget* m_pages = nullptr;
    QList<std::function<void()>> m_readers; // one per bound control: shows the stored value
    QLabel* m_loginFailure = nullptr;
    QLabel* m_wallpaperProblem = nullptr;
    QVBoxLayout* m_versions = nullptr;   // the installed versions that can be deleted
    QVBoxLayout* m_lockedApps = nullptr; // one switch per app
};
