#pragma once

#include <QColor>
#include <QIcon>
#include <QPointF>

class QPainter;

// The app lock's padlock, drawn with lines rather than taken from a font (desktop fonts seldom
// have one): in the window header's lock button and on the launcher's tiles.
namespace PadlockGlyph {

enum class Shackle { closed, open };

// A padlock `height` pixels tall centred on `centre`.
void paint(QPainter& painter, QPointF centre, double height, const QColor& colour, Shackle shackle);
// The same as an icon of `side` × `side` pixels.
QIcon icon(int side, const QColor& colour, Shackle shackle);

} // namespace PadlockGlyph
