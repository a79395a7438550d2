#pragma once

#include <QList>
#include <QString>

#include <optional>

// One SDK installation together with the virtual device (AVD) to boot from it.
struct AndroidRuntimePaths {
    QString sdkRoot;
    std::optional<QString> avdHome; // absent: the emulator's own default AVD folder
    QString avdName;
    bool isManaged = false; // downloaded by Vantle, as opposed to a developer's SDK
    int api = 35;

    QString adb() const;
    QString emulator() const;
    QString apkanalyzer() const;
    QString systemImage() const; // system-images/android-<api>/default/<abi>/system.img

    // adb and the emulator are executable, the system image and the AVD definition exist.
    bool isComplete() const;

    // Vantle's own installation for an API level, below managedRoot().
    static AndroidRuntimePaths managed(int api);
    // An SDK a developer installed by other means (Android Studio's default folder).
    static AndroidRuntimePaths developerSDK();
    static QString managedRoot();
    // The installation every other part uses; recomputed from the settings on every call.
    static AndroidRuntimePaths current();

    // The Android versions Vantle offers, and the one used when the stored choice is not one of them.
    static const QList<int>& supportedAPILevels();
    static constexpr int defaultAPI = 35;
    // The stored "VantleAndroidAPI", or the default when it is absent or unsupported.
    static int selectedAPI();

    bool operator==(const AndroidRuntimePaths&) const = default;
};
