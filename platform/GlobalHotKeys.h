#pragma once

#include <QString>
#include <Qt>
#include <functional>
#include <memory>

// Keys that reach Vantle whichever application has the keyboard. On Linux under X11 passive key
// grabs on the root window; elsewhere (Wayland) the desktop portal's global-shortcuts interface
// where it exists. Created and used on the GUI thread; presses and late answers are reported
// there, after the event that carried them has been handled. Destroying the object releases every
// key and reports nothing more.
class GlobalHotKeys {
public:
    enum class Outcome {
        registered,
        taken,       // another application holds the key
        unavailable, // this desktop offers no global keys (`unavailableReason` says why)
        failed,      // refused for another reason (the detail says which)
        pending,     // asked; the answer comes through `onSettled` (the desktop may ask the user)
    };
    struct Result {
        Outcome outcome = Outcome::failed;
        QString detail; // the system's words, for the log
    };

    virtual ~GlobalHotKeys() = default;

    // Registers `key` (a letter, digit or Qt::Key_Space) with `modifiers` under `id`; an id already
    // in use is released first. `description` says what the key does, for desktops that show the
    // user a list of shortcuts. A `pending` key is settled later, once, unless removed before.
    virtual Result add(int id, Qt::Key key, Qt::KeyboardModifiers modifiers, const QString& description) = 0;
    virtual void remove(int id) = 0;
    // Empty when global keys can be registered here, else a sentence for the user and the log.
    virtual QString unavailableReason() const = 0;

    // Called with the id of a pressed key.
    std::function<void(int id)> onPressed;
    // Called with the answer for a key that `add` left `pending`, and again for a key the desktop
    // takes back later (no longer bound, or its portal gone), so that no key is lost silently.
    std::function<void(int id, Result)> onSettled;

    // The implementation for the running desktop session.
    static std::unique_ptr<GlobalHotKeys> create();
};
