#pragma once

#include "platform/GlobalHotKeys.h"

#include <QObject>
#include <QStringList>

class AppLibraryStore;
class AppWindows;
class LauncherActions;

// Alt+1 … Alt+9: the apps of the library in their shown order (favourites first). Registered at
// start-up and again whenever "VantleAppShortcuts" is changed (its event). Main thread only.
class AppShortcuts {
public:
    static constexpr int firstID = 11; // ids 11 to 19

    AppShortcuts(GlobalHotKeys& keys, AppLibraryStore& store, LauncherActions& actions, AppWindows& windows);

    // Releases the keys held, then, unless "VantleAppShortcuts" is off, grabs the nine keys again and
    // logs "shortcuts: Alt+1-Alt+9 registered=" + how many the desktop granted, once all nine are
    // answered (a desktop may answer later, through `settle`).
    void registerKeys();
    void unregisterKeys();
    // The desktop's late answer for key `id`, or its taking back a key it granted.
    void settle(int id, const GlobalHotKeys::Result& result);
    // Acts on the app at `index` (0-based) of the ordered library: hides its visible window, else
    // opens it. An index past the end does nothing.
    void fire(int index);

    int registeredCount() const { return int(m_registered.size()); }
    // One line per key the desktop refused ("Alt+3: another application holds this key …").
    const QStringList& problems() const { return m_problems; }

private:
    void record(int id, const GlobalHotKeys::Result& result);
    void logCount() const;

    GlobalHotKeys& m_keys;
    AppLibraryStore& m_store;
    LauncherActions& m_actions;
    AppWindows& m_windows;
    QList<int> m_registered; // ids the desktop granted, released together
    QList<int> m_pending;    // ids asked for whose answer has not come
    QStringList m_problems;
    QObject m_followsSetting; // ends the observation of the setting with this object
};

// Alt+Space shows or hides Vantle, and the one dispatcher of every global key. Main thread only.
class VantleHotKey {
public:
    static constexpr int hotKeyID = 1;

    // Becomes the receiver of `keys`' presses and late answers.
    VantleHotKey(GlobalHotKeys& keys, AppShortcuts& shortcuts, AppWindows& windows);

    // Grabs Alt+Space unless "VantleHotKey" is stored and false (released then; again whenever the
    // setting is changed, by its event), and logs
    // "hotkey Alt+Space register status=" + the outcome, when the desktop gives it. Without global
    // keys on this desktop (or once its portal went away) it logs the reason once.
    void registerKey();
    // Hands the desktop's answer for key `id` to the key's owner.
    void settle(int id, const GlobalHotKeys::Result& result);
    // Ids 11 to 19 fire the app shortcuts; any other id is Alt+Space: the first open window is
    // hidden when visible, else shown through the app lock; with no window the home panel shows.
    void dispatch(int id);

    // Empty when global keys work here, else why not (for the General settings page).
    QString unavailableReason() const { return m_keys.unavailableReason(); }
    bool isRegistered() const { return m_registered; }

private:
    void logStatus(const GlobalHotKeys::Result& result);
    void logUnavailable(const QString& reason);

    GlobalHotKeys& m_keys;
    AppShortcuts& m_shortcuts;
    AppWindows& m_windows;
    bool m_registered = false;
    bool m_pending = false;
    bool m_unavailableLogged = false;
    QObject m_followsSetting;
};

// The outcome's name in the log ("registered", "taken", "unavailable", "failed", "pending").
QString outcomeName(GlobalHotKeys::Outcome outcome);
