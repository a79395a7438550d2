#pragma once

#include "RecordingAppWindows.h"
#include "RecordingLauncherActions.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QProcess>
#include <gtest/gtest.h>

// A real store on private settings, the recording doubles of the application and its windows, and
// xdotool pressing keys and clicking on the program's X server.
class DesktopShellFixture : public ::testing::Test {
protected:
    MobileApp add(const QString& name, bool favourite = false, const QString& path = {}) {
        MobileApp app{QUuid::createUuid(),
                      name,
                      MobilePlatform::android,
                      path.isEmpty() ? QStringLiteral("/apks/") + name : path,
                      {},
                      QDateTime::currentDateTimeUtc()};
        app.isFavorite = favourite;
        store.setApps(QList<MobileApp>(store.apps()) << app);
        return app;
    }
    static bool xdotool(const QStringList& arguments) {
        return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
    }

    ScopedSettings settings;
    AppLibraryStore store;
    RecordingLauncherActions actions;
    RecordingAppWindows windows;
};
