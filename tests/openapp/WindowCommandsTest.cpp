// The automation commands that act on the app window, sent through the real command channel to a
// real window streaming from the simulated Android.
#include "windows/WindowCommands.h"

#include "core/CommandRouter.h"
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "platform/CommandChannel.h"
#include "platform/Locations.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "runtime/ApkInstaller.h"
#include "sim/SimControl.h"
#include "stream/AndroidStreamClient.h"
#include "stream/AndroidVideoView.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");

class WindowCommandsTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    CommandRouter commands;
    CommandListening listening = listenForCommands([this](const QString& text) { commands.dispatch(text); });
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();

    void SetUp() override {
        ASSERT_TRUE(listening.listener) << listening.error.toStdString();
        qputenv("VANTLE_BUNDLE", VANTLE_BUILD_BRIDGE); // the build tree's display bridge
        RuntimeComponentLocator::clearCache();
        VantleSettings::set(SettingsKeys::forwardAudio, false);
        registerWindowCommands(commands);
    }
    void TearDown() override {
        registry.closeAll();
        waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
        registry.cancelIdleShutdown();
        qunsetenv("VANTLE_BUNDLE");
    }

    SimControl device() const { return SimControl(Locations::runtime(), 35); }
    bool deviceReceived(const std::function<bool(const QJsonObject&)>& match, int timeoutMs = 5000) const {
        return waitUntil(
            [&] {
                const QList<QJsonObject> events = device().received();
                return std::any_of(events.cbegin(), events.cend(), match);
            },
            timeoutMs);
    }
    static QStringList ledger() {
        QFile file(Locations::serverLedger());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
};

TEST_F(WindowCommandsTest, PasteCopyAndDropReachTheAppWindow) {
    // Without a window the commands are delivered and do nothing.
    EXPECT_EQ(sendFromAnotherThread(u"paste"_s), CommandDelivery::delivered);

    const QString package = Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(notesApk));
    AndroidWindowSession* session = registry.open(QUuid::createUuid(), package, u"Notes"_s, {});
    ASSERT_TRUE(waitUntil([&] { return !session->videoView()->currentFrame().isNull(); }, 30000));
    // The display server's host process is on record while it runs (a killed Vantle's successor
    // ends it from there).
    EXPECT_EQ(ledger().size(), 1);
    device().clearReceived();

    QGuiApplication::clipboard()->setText(u"from the desktop"_s);
    EXPECT_EQ(sendFromAnotherThread(u"paste"_s), CommandDelivery::delivered);
    EXPECT_TRUE(deviceReceived([](const QJsonObject& event) {
        return event.value(u"text"_s).toString() == u"from the desktop"_s && event.value(u"paste"_s).toBool();
    }));

    EXPECT_EQ(sendFromAnotherThread(u"copy"_s), CommandDelivery::delivered);
    EXPECT_TRUE(deviceReceived([](const QJsonObject& event) { return event.contains(u"copyKey"_s); }));

    MainLogSince since;
    EXPECT_EQ(sendFromAnotherThread(u"drop:/tmp/Report.pdf"_s), CommandDelivery::delivered);
    EXPECT_TRUE(waitUntil([&] { return since.count(u"files dropped on "_s + package) == 1; }));
    // A file name cannot forge log lines either.
    EXPECT_EQ(sendFromAnotherThread(u"drop:/tmp/a\n2026-12-06T10:00:00.000Z forged"_s),
              CommandDelivery::delivered);
    EXPECT_TRUE(waitUntil([&] { return since.count(u"files dropped on "_s + package) == 2; }));
    EXPECT_EQ(since.count(u"2026-12-06T10:00:00.000Z forged"_s), 0);

    registry.closeAll();
    ASSERT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }, 10000));
    EXPECT_TRUE(waitUntil([] { return ledger().isEmpty(); }));
}

} // namespace
