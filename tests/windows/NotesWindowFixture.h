#pragma once

// A window test's arrangement: a private home with the simulated Android, the build tree's display
// bridge, no sound, and the Notes app installed and started; every window closed afterwards.
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "platform/Locations.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "runtime/ApkInstaller.h"
#include "sim/SimControl.h"
#include "stream/AndroidVideoView.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <gtest/gtest.h>

class NotesWindowFixture : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    const QUuid appID = QUuid::createUuid();
    QString package;

    void SetUp() override {
        qputenv("VANTLE_BUNDLE", VANTLE_BUILD_BRIDGE);
        RuntimeComponentLocator::clearCache();
        VantleSettings::set(SettingsKeys::forwardAudio, false);
        package = Coroutines::waitFor(
            AndroidRuntimeCLI::installAndLaunch(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk")));
    }
    void TearDown() override {
        registry.closeAll();
        waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
        registry.cancelIdleShutdown();
        qunsetenv("VANTLE_BUNDLE");
    }

    // Opens the app's window, or brings it forward, and waits for a picture in it.
    AndroidWindowSession* open() {
        using namespace Qt::StringLiterals;
        AndroidWindowSession* session = registry.open(appID, package, u"Notes"_s, {});
        EXPECT_TRUE(waitUntil([&] { return !session->videoView()->currentFrame().isNull(); }, 30000));
        return session;
    }
    SimControl device() const { return SimControl(Locations::runtime(), 35); }
};
