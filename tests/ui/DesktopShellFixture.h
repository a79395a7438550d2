#pragma once

#include "RecordingAppWindows.h"
#include "RecordingLauncherActions.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QProcess>
#include <gtest/gtest.h>

// A real store on private settings, the recording doubles of the application and the windows, and
// `xdotool` to press keys and click on the test's X server.
class DesktopShellFixture : public ::testing::Test {
protected:
    MobileApp add(const QString& name, bool favourite = false) {
        MobileApp app;
        app.id = QUuid::createUuid();
        app.name = name;
        app.sourcePath = QStringLiteral("/apks/") + name + QStringLiteral(".apk");
        app.addedAt = QDateTime::currentDateTimeUtc();
        app.isFavorite = favourite;
        QList<MobileApp> apps = store.apps();
        apps.append(app);
        store.setApps(apps);
        return app;
    }

    static bool xdotool(const QStringList& arguments) {
        QProcess tool;
        tool.start(QStringLiteral("xdotool"), arguments);
        return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit &&
               tool.exitCode() == 0;
    }

    ScopedSettings settings;
    AppLibraryStore store;
    RecordingLauncherActions actions;
    RecordingAppWindows windows;
};
