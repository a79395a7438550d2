#pragma once

#include <QSizeF>

// The size shared by every app window and the home panel, in points. A stored size below the
// minimum (280 × 420) reads as the default 390 × 760; writes are rounded to whole points.
namespace VantleLayout {

inline constexpr QSizeF minimumSize{280, 420};
inline constexpr QSizeF defaultSize{390, 760};

QSizeF size();
void setSize(QSizeF size);

} // namespace VantleLayout
