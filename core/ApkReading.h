#pragma once

#include <QString>
#include <optional>

// What the APK reader made of a readable file.
struct ApkReading {
    bool isApk = false;
    std::optional<QString> label;
};
