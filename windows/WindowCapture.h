#pragma once

#include <QString>

// Images of the application's visible windows, for automation and bug reports.
namespace WindowCapture {

// Each visible top-level window wider and taller than minSide points becomes the PNG file
// prefix + "-" + n + ".png" (n from 1); each gets a main-log line "capture: <file> <w>x<h>
// title=<title>", or "capture: no visible windows". Returns how many files were written. GUI thread.
int saveVisibleWindows(const QString& prefix);

constexpr int minSide = 120;

} // namespace WindowCapture
