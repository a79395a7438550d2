#pragma once

#include "core/AndroidMedia.h"

#include <QString>
#include <optional>

// Reads the app's media session out of `dumpsys media_session`. Pure; the dump is untrusted text.
//
// The lines it looks at, per session block (indentation varies and is ignored):
//
//   package=org.example.player
//   state=PlaybackState {state=3, position=0, buffered position=0, speed=1.0, ...}
//   metadata: size=4, description=Title, Artist, Album
//
// The first block of `package` that yields a state or metadata line is the answer; later blocks
// are not read. A description part that is missing or "null" reads as empty; a session without a
// title is no media, even while it plays.
namespace AndroidMediaSessions {

// Bounds on what one dump may cost: the bytes read (the rest is ignored) and the length kept of a
// title or an artist (an app may put anything there).
inline constexpr qsizetype maxDumpChars = 4 * 1024 * 1024;
inline constexpr qsizetype maxFieldChars = 512;

std::optional<AndroidMedia> parse(const QString& output, const QString& package);

} // namespace AndroidMediaSessions
