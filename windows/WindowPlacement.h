#pragma once

#include <QList>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QVariantMap>
#include <optional>

// Where app windows go. Pure geometry in Qt's screen coordinates (top-left origin, points), so the
// rules are testable without screens. A window's record ("Vantle.window." + package) holds "x",
// "y" (top-left corner), "w", "h" and "pinned".
namespace WindowPlacement {

// The frame a new window opens with: a pinned window at its stored place when that place is still
// on a screen (its top-left corner, 20 points inside, lies in some visible frame); else hanging
// from the anchor's top edge; else at the top right of the main screen's visible frame.
QRectF initialFrame(const QVariantMap& record, QSizeF size, const QList<QRectF>& visibleFrames,
                    std::optional<QRectF> mainVisibleFrame, std::optional<QRectF> anchor);

// `frame` resized to `size` (each side at most the visible frame's), keeping its top edge and
// staying inside the visible frame.
QRectF resized(QRectF frame, QSizeF size, QRectF visible);

// The virtual display size for a video area: points × scale, truncated, rounded down to a multiple
// of 8 per side; nothing when either side is under 101 pixels.
std::optional<QSize> displaySize(QSizeF videoArea, double scale);

} // namespace WindowPlacement
