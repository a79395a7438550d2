#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The application's own command-line arguments.
struct LaunchArguments {
    std::optional<QString> openApp;   // "--open-app" text: open the first matching library entry
    std::optional<QString> launchApk; // "--launch-apk" path: install and launch that APK
    bool androidPlayer = false;       // "--android-player": show the single player window

    // Unknown arguments (Qt's own, for example) are left alone; an option missing its value is absent.
    static LaunchArguments parse(const QStringList& arguments);
};
