#pragma once

#include <QString>
#include <array>

// What an app plays, as its Android media session says: the now-playing record's value. A parsed
// value always has a title; the artist may be empty.
struct AndroidMedia {
    QString title;
    QString artist;
    bool playing = false;

    bool operator==(const AndroidMedia&) const = default;
};

// A transport button, in the order the controls show them.
enum class MediaAction { previous, playPause, next };

// Android's key code for the action (KEYCODE_MEDIA_PREVIOUS, _PLAY_PAUSE, _NEXT).
constexpr int androidKeyCode(MediaAction action) {
    constexpr std::array<int, 3> codes{88, 85, 87};
    return codes[size_t(action)];
}
