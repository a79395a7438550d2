#pragma once

#include <QColor>
#include <QIcon>

// The capture button's two faces, drawn rather than taken from a font: a camera, and while a
// recording runs a filled record circle.
namespace CameraGlyph {

// The red of a running recording.
inline const QColor recordingRed{0xff, 0x3b, 0x30};

QIcon camera(int side, const QColor& colour);
QIcon recording(int side, const QColor& colour);

} // namespace CameraGlyph
