#pragma once

// A short sound of the desktop's sound theme, played without waiting for it. Where the desktop has
// no player or no such sound, nothing happens; playing never fails loudly.
namespace SystemSound {

enum class Sound {
    screenCapture, // a screenshot was taken
};

void play(Sound sound);

} // namespace SystemSound
