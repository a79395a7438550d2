#pragma once

// Notes started on the simulated Android in a private home, the build's display bridge, no sound.
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "integrations/Notifier.h"
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

// What the windows post on the desktop.
struct PostedNotifications final : Notifier {
    struct Post {
        QString title, subtitle, body;
        std::optional<QUuid> appID;
        QString file = {};
        bool operator==(const Post&) const = default;
    };
    QList<Post> posts;
    void post(const QString& title, const QString& subtitle, const QString& body,
              const std::optional<QUuid>& appID, const QString& file) override {
        posts.append({title, subtitle, body, appID, file});
    }
};

class NotesWindowFixture : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    const QUuid appID = QUuid::createUuid();
    QString package;
    MainLogSince since;

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
        registry.notifier = nullptr;
        qunsetenv("VANTLE_BUNDLE");
    }

    // Opens the app's window, or brings it forward, and waits for a picture in it.
    AndroidWindowSession* open(const QString& title = QStringLiteral("Notes")) {
        AndroidWindowSession* session = registry.open(appID, package, title, {});
        EXPECT_TRUE(waitUntil([&] { return !session->videoView()->currentFrame().isNull(); }, 30000));
        return session;
    }
    SimControl device() const { return SimControl(Locations::runtime(), 35); }
    // The main-log lines written since the test began that start with `prefix`, without it.
    QStringList logged(const QString& prefix) const {
        QStringList found;
        for (const QString& line : since.lines())
            if (line.startsWith(prefix)) found.append(line.mid(prefix.size()));
        return found;
    }
    bool waitForLogged(const QString& prefix, qsizetype count = 1, int timeoutMs = 10000) const {
        return waitUntil([&] { return logged(prefix).size() >= count; }, timeoutMs);
    }
};

#include "core/CommandRouter.h"
#include "platform/CommandChannel.h"
#include "windows/WindowCommands.h"

// The same, with the window commands served on the real command channel, as `vantlectl send` reaches them.
class CommandedWindowFixture : public NotesWindowFixture {
protected:
    CommandRouter commands;
    CommandListening listening = listenForCommands([this](const QString& text) { commands.dispatch(text); });

    void SetUp() override {
        ASSERT_TRUE(listening.listener) << listening.error.toStdString();
        registerWindowCommands(commands);
        NotesWindowFixture::SetUp();
    }
};
