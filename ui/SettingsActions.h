#pragma once

#include <QString>

// What the settings pages ask of the application beyond storing a setting: switching and deleting
// Android versions, the update check, the bug report and the uninstaller, and whether global
// shortcuts work on this desktop. `app/main.cpp` implements it; tests use a recording double.
// Main thread only.
class SettingsActions {
public:
    virtual ~SettingsActions() = default;

    // Stores the level and restarts Android on it (a version not downloaded yet asks for set-up).
    virtual void switchAndroidVersion(int api) = 0;
    // Removes an installed version other than the current one, with its apps and their data.
    virtual void deleteAndroidVersion(int api) = 0;
    virtual void checkUpdatesNow() = 0;
    virtual void composeBugReport() = 0;
    // Asks first; removes Vantle and ends the program when the user agrees.
    virtual void uninstallVantle() = 0;
    // Empty when global shortcuts work here, else why not.
    virtual QString shortcutsUnavailableReason() const = 0;
};
