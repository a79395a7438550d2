#pragma once

#include <QString>

// This build's version strings, set by the build (the project version and VANTLE_BUILD_NUMBER).
namespace AppVersion {
QString shortVersion(); // "0.1.0"
QString buildNumber();  // "1"
} // namespace AppVersion
