#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// The panel's look: colours that follow the desktop's light or dark palette, the style sheet of
// the panel's own widgets, and the few line glyphs it draws itself so that they look the same
// under every icon theme.
namespace PanelStyle {

enum class Glyph { plus, ellipsis, search, clear, tray, gear, phone, padlock, downloadCircle, infoCircle };

struct Colours {
    bool dark = false;
    QColor background, card, text, secondaryText, accent, separator, hover;
};

// Follows the desktop: dark when the application palette's window colour is dark.
Colours colours();
QString styleSheet(const Colours& colours);
QIcon glyph(Glyph glyph, const QColor& colour);
// The colour of Android's state in the pill and the dock.
QColor stateColour(int androidState);

} // namespace PanelStyle
