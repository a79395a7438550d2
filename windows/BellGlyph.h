#pragma once

#include <QColor>
#include <QIcon>

// A filled bell, drawn rather than taken from a font (desktop fonts seldom have one): the window
// header's shade button and the notification banner.
namespace BellGlyph {
QIcon icon(int side, const QColor& colour);
} // namespace BellGlyph
