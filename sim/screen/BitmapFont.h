#pragma once

#include <cstdint>

// A 5x7 pixel font for printable ASCII (32 to 126): five column bytes per glyph, bit 0 at the top.
// The simulated screen draws its text with it, so that neither the display server nor screencap
// needs a font engine. Characters outside the range draw as '?'.
namespace BitmapFont {

inline constexpr int glyphWidth = 5;
inline constexpr int glyphHeight = 7;
inline constexpr int advance = 6; // glyph plus one column of spacing

const uint8_t* glyph(char32_t character);

} // namespace BitmapFont
