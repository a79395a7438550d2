#pragma once

#include "RecordingLauncherActions.h"
#include "RecordingSettingsActions.h"
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"
#include "ui/AppSection.h"
#include "ui/AppTile.h"
#include "ui/MenuPanel.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>
#include <memory>

// A real store on private settings, recording doubles of the application's actions, an icon
// store that finds no icons (tiles draw monograms), a switch for whether Android is complete and a
// Vantle home of the test's own (the login entry, the wallpaper copy and the command socket).
class PanelFixture : public ::testing::Test {
protected:
    MenuPanel::Environment environment() {
        MenuPanel::Environment result;
        result.runtimeComplete = [this] { return runtimeComplete; };
        result.chooseFiles = [this](QWidget*) {
            ++chooserOpened;
            return chosenFiles;
        };
        result.localHour = [this] { return localHour; };
        result.icons = &icons;
        if (withSettings) result.settings = &settingsActions;
        result.choosePhoto = [this](QWidget*) { return chosenPhoto; };
        return result;
    }

    std::unique_ptr<MenuPanel> makePanel(AppLibraryStore* on = nullptr) {
        auto panel = std::make_unique<MenuPanel>(on ? *on : store, actions, environment());
        panel->resize(390, 760);
        return panel;
    }

    MobileApp add(const QString& name, bool favourite = false) {
        MobileApp app;
        app.id = QUuid::createUuid();
        app.name = name;
        app.sourcePath = files.filePath(name + QStringLiteral(".apk"));
        app.addedAt = QDateTime::currentDateTimeUtc();
        app.isFavorite = favourite;
        store.setApps(QList<MobileApp>(store.apps()) << app);
        return app;
    }

    // A real APK file in the private folder, as the user would drop it.
    QString apkFile(const QString& fileName) {
        const QString path = files.filePath(fileName);
        QFile::copy(QStringLiteral(VANTLE_TEST_APKS "/densities.apk"), path);
        return path;
    }

    static QStringList titles(const MenuPanel& panel) {
        QStringList result;
        for (const AppSection* section : panel.sections())
            result.append(section->title());
        return result;
    }
    static QStringList names(const AppSection* section) {
        QStringList result;
        for (const AppTile* tile : section->tiles())
            result.append(tile->app().name);
        return result;
    }

    ScopedSettings settings;
    QTemporaryDir files;
    AppLibraryStore store;
    RecordingLauncherActions actions;
    RecordingSettingsActions settingsActions;
    bool withSettings = false; // whether panels offer the settings pages
    QString chosenPhoto;
    std::optional<QByteArray> iconPng; // what the icon store finds for every app; set before tiles draw
    AppIconStore icons{[this](const QUuid&, const QString&, MobilePlatform) { return iconPng; }};
    bool runtimeComplete = true;
    int localHour = 9;
    QList<QUrl> chosenFiles;
    int chooserOpened = 0;
    QTemporaryDir home;
    ScopedEnvironment homeVariable{"VANTLE_HOME", home.path()};
    // A set-up view that is shown asks for Google's lists; here it is refused at once.
    ScopedEnvironment sdkRepository{"VANTLE_SDK_REPOSITORY", QStringLiteral("http://127.0.0.1:9/")};
};
