#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// The desktop's media controls: what Vantle's now-playing app plays, shown to the desktop (its
// media keys, its media widget, media clients) and controlled from there. On Linux an MPRIS 2
// player, "org.mpris.MediaPlayer2.vantle" on the session bus, registered only while something is
// published. GUI thread only; commands arrive on it.
class NowPlayingService : public QObject {
    Q_OBJECT
public:
    struct Track {
        QString appName; // the player's name as the desktop shows it
        QString title;
        QString artist; // may be empty
        bool playing = false;
        bool operator==(const Track&) const = default;
    };
    enum class Command { play, pause, playPause, next, previous };

    static std::unique_ptr<NowPlayingService> create();
    ~NowPlayingService() override = default;

    // Shows the track, registering the player when it is not yet; a changed track is announced.
    // False when the desktop's service could not be reached or the name is taken.
    virtual bool publish(const Track& track) = 0;
    // Takes the player away; nothing when none is published.
    virtual void withdraw() = 0;
    virtual bool isPublished() const = 0;

    // A control of the desktop was used. Play while playing and Pause while paused never arrive.
    std::function<void(Command command)> onCommand;

protected:
    NowPlayingService() = default;
};
