// A locked app's real window on the simulated Android: opened through the password, never asked for
// while on screen, asked for again once away longer than the grace period, unlocked by its header.
#include "apk/APKIconExtractor.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "lock/PamTestStack.h"
#include "lock/PromptDriver.h"
#include "openapp/OpenAppFlow.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"
#include "windows/HeaderView.h"

#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class LockedWindowTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    qint64 nowMs = 1'000'000;
    PasswordPrompt prompt;
    std::unique_ptr<AppLock> lock;
    std::unique_ptr<AppLibraryStore> store;
    std::unique_ptr<OpenAppFlow> flow;
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();

    void SetUp() override {
        ASSERT_TRUE(pamWrapperPreloaded);
        qputenv("VANTLE_BUNDLE", VANTLE_BUILD_BRIDGE);
        RuntimeComponentLocator::clearCache();
        VantleSettings::set(SettingsKeys::forwardAudio, false);
        AppLock::Seams seams;
        seams.nowMs = [this] { return nowMs; }; // windows on screen are the registry's own
        lock = std::make_unique<AppLock>(prompt, seams);
        AppLibraryStore::Seams storeSeams;
        storeSeams.readApk = [](const QString& path) {
            return ApkReading{true, APKIconExtractor::label(path)};
        };
        store = std::make_unique<AppLibraryStore>(storeSeams);
        OpenAppFlow::Seams flowSeams;
        flowSeams.unlock = [this](const MobileApp& app, std::function<void()> then) {
            lock->unlockIfNeeded(app, std::move(then));
        };
        flow = std::make_unique<OpenAppFlow>(*store, flowSeams);
    }
    void TearDown() override {
        if (QDialog* open = prompt.dialog()) open->reject();
        registry.closeAll();
        waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
        registry.cancelIdleShutdown();
        flow.reset();
        store.reset();
        lock.reset();
        qunsetenv("VANTLE_BUNDLE");
    }

    QString answer() { return PromptDriver::answer(prompt, QString::fromUtf8(pamTestPassword)); }
    bool windowShown(const MobileApp& app) {
        return waitUntil(
            [&] {
                const AndroidWindowSession* session = registry.session(app.id);
                return session && session->panel()->isVisible();
            },
            30000);
    }
    // VANTLE_SCREENSHOTS=<folder> keeps pictures for scripts/take-screenshots.
    static void screenshot(QWidget* widget, const QString& name) {
        if (const QString shots = qEnvironmentVariable("VANTLE_SCREENSHOTS"); !shots.isEmpty()) {
            QTest::qWait(800);
            widget->grab().save(shots + u'/' + name + u".png"_s);
        }
    }
    QToolButton* lockButton(const MobileApp& app) {
        return registry.session(app.id)->panel()->header()->button(u"lock"_s);
    }
};

} // namespace

TEST_F(LockedWindowTest, ALockedWindowAsksOnlyWhenItComesBackAfterTheGracePeriod) {
    store->addFiles({QUrl::fromLocalFile(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk"))});
    ASSERT_TRUE(waitUntil([&] { return !store->apps().isEmpty(); }));
    const MobileApp notes = store->apps().value(0);
    VantleSettings::set(SettingsKeys::lockedApps, QVariantList{notes.id.toString()});

    flow->launch(notes);
    EXPECT_TRUE(registry.sessions().isEmpty()); // nothing opens before the password
    EXPECT_EQ(answer(), u"Vantle wants to open Notes."_s);
    ASSERT_TRUE(windowShown(notes)) << store->statusMessage().toStdString();
    EXPECT_EQ(lockButton(notes)->accessibleName(), u"Locked"_s);
    screenshot(registry.session(notes.id)->panel(), u"lock-window-header"_s);

    // On screen: a click on the tile brings it forward without asking, however long it has been.
    nowMs += 60'000;
    flow->launch(notes);
    EXPECT_EQ(store->statusMessage(), u"Notes is open"_s);
    EXPECT_EQ(prompt.dialog(), nullptr);

    // Hidden for less than the grace period: shown without asking.
    registry.session(notes.id)->hide();
    nowMs += 5'000;
    lock->show(notes.id);
    ASSERT_TRUE(windowShown(notes));
    EXPECT_EQ(prompt.dialog(), nullptr);

    // Hidden for longer: the password first, and the window stays hidden until then.
    registry.session(notes.id)->hide();
    nowMs += AppLock::gracePeriodMs + 1;
    lock->show(notes.id);
    QDialog* shown = PromptDriver::shown(prompt);
    ASSERT_NE(shown, nullptr);
    EXPECT_FALSE(registry.session(notes.id)->panel()->isVisible());
    screenshot(shown, u"lock-password-prompt"_s);
    EXPECT_EQ(answer(), u"Vantle wants to open Notes."_s);
    ASSERT_TRUE(windowShown(notes));

    // The header's lock button removes the lock, through the password; the window stays open.
    QTest::mouseClick(lockButton(notes), Qt::LeftButton);
    EXPECT_EQ(answer(), u"Vantle wants to remove the lock from Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return !AppLock::isLocked(notes.id); }));
    EXPECT_EQ(lockButton(notes)->accessibleName(), u"Lock"_s);
    EXPECT_TRUE(registry.session(notes.id)->panel()->isVisible());
}
