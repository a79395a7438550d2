// The app lock with the real password prompt, checked by a real PAM stack (pam_wrapper with
// pam_matrix): the grace period, windows on screen, locking, a missing PAM service, the popup around
// the prompt, the open-app flow's lock check, a tile's lock and the "lock:" command.
#include "datacare/AppLock.h"

#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "core/CommandRouter.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "datacare/DataCareCommands.h"
#include "datacare/PasswordPrompt.h"
#include "datacare/Uninstaller.h"
#include "lock/PamTestStack.h"
#include "openapp/OpenAppFlow.h"
#include "support/TestSupport.h"
#include "ui/AppTile.h"
#include "ui/LauncherActions.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/VantleLayout.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray password = pamTestPassword;

// Key presses carrying the text, as a keyboard with any layout sends them.
void type(QWidget* field, const QString& text) {
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(field, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(field, &release);
    }
}

MobileApp appNamed(const QString& name) {
    MobileApp app;
    app.id = QUuid::createUuid();
    app.name = name;
    app.sourcePath = u"/nonexistent/"_s + name + u".apk"_s;
    return app;
}

class AppLockTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    MainLogSince log;
    qint64 nowMs = 1'000'000;
    QSet<QUuid> shownWindows;
    PasswordPrompt prompt;
    std::unique_ptr<AppLock> lock;
    MobileApp notes = appNamed(u"Notes-v7.2.1"_s);
    int opened = 0;

    void SetUp() override {
        ASSERT_TRUE(pamWrapperPreloaded);
        AppLock::Seams seams;
        seams.nowMs = [this] { return nowMs; };
        seams.windowShown = [this](const QUuid& id) { return shownWindows.contains(id); };
        lock = std::make_unique<AppLock>(prompt, seams);
    }
    void TearDown() override {
        if (QDialog* open = prompt.dialog()) open->reject();
        AndroidWindowRegistry::shared().setHomePanel({});
    }

    void lockInSettings(const QList<QUuid>& ids) {
        QVariantList stored;
        for (const QUuid& id : ids)
            stored.append(id.toString(QUuid::WithoutBraces));
        VantleSettings::set(SettingsKeys::lockedApps, stored);
    }
    // The prompt as the person sees it, once it shows.
    QDialog* promptShown() {
        return waitUntil([&] { return prompt.dialog() && prompt.dialog()->isVisible(); }, 3000)
                   ? prompt.dialog()
                   : nullptr;
    }
    // Types into the prompt and presses OK; returns the prompt's reason text.
    QString answer(const QByteArray& typed) {
        QDialog* dialog = promptShown();
        if (!dialog) return u"<no prompt>"_s;
        const QString reason = dialog->findChild<QLabel*>(u"reason"_s)->text();
        auto* field = dialog->findChild<QLineEdit*>(u"password"_s);
        waitUntil([&] { return field->isEnabled(); });
        type(field, QString::fromUtf8(typed));
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"unlock"_s), Qt::LeftButton);
        // Taken out of the field at once, before the check.
        EXPECT_EQ(field->text(), QString());
        return reason;
    }
    void openNotes() {
        lock->unlockIfNeeded(notes, [this] { ++opened; });
    }
    bool promptStaysAway() {
        return !waitUntil([&] { return prompt.dialog() != nullptr; }, AppLock::promptDelayMs + 300);
    }
};

} // namespace

TEST_F(AppLockTest, ALockedAppAsksOnceWithinTheGracePeriodAndAgainAfterIt) {
    lockInSettings({notes.id});
    openNotes();
    EXPECT_EQ(opened, 0); // nothing before the password
    EXPECT_EQ(answer(password), u"Vantle wants to open Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return opened == 1; }));
    EXPECT_TRUE(log.lines().contains(u"app lock: asking for the password to open Notes"_s));
    EXPECT_TRUE(log.lines().contains(u"app lock: unlocked"_s));

    nowMs += AppLock::gracePeriodMs; // exactly 10 s later: still within
    openNotes();
    EXPECT_EQ(opened, 2);
    EXPECT_TRUE(promptStaysAway());

    nowMs += 1;
    openNotes();
    ASSERT_NE(promptShown(), nullptr);
    promptShown()->reject();
    ASSERT_TRUE(waitUntil([&] { return log.lines().contains(u"app lock: not unlocked (cancelled)"_s); }));
    EXPECT_EQ(opened, 2);
}

TEST_F(AppLockTest, AWrongPasswordMayBeRetriedButNotForEver) {
    lockInSettings({notes.id});
    openNotes();
    answer("wrong");
    QDialog* dialog = promptShown();
    auto* problem = dialog->findChild<QLabel*>(u"problem"_s);
    ASSERT_TRUE(waitUntil([&] { return problem->isVisible(); }, 10000));
    EXPECT_EQ(problem->text(), u"Wrong password. Try again."_s);
    EXPECT_EQ(opened, 0);
    answer(password);
    ASSERT_TRUE(waitUntil([&] { return opened == 1; }, 10000));

    // Three wrong ones end the prompt: a refusal, and the app stays shut.
    nowMs += AppLock::gracePeriodMs + 1;
    openNotes();
    for (int attempt = 0; attempt < PasswordPrompt::attempts; ++attempt) {
        answer("wrong");
        waitUntil(
            [&] {
                return !prompt.dialog() || prompt.dialog()->findChild<QLineEdit*>(u"password"_s)->isEnabled();
            },
            10000);
    }
    ASSERT_TRUE(waitUntil(
        [&] { return log.lines().contains(u"app lock: not unlocked (Wrong password (3 attempts))"_s); },
        10000));
    EXPECT_EQ(opened, 1);
}

TEST_F(AppLockTest, NoPromptForAnUnlockedAppOrAWindowOnScreen) {
    const MobileApp maps = appNamed(u"Maps"_s);
    lockInSettings({notes.id});
    int mapsOpened = 0;
    lock->unlockIfNeeded(maps, [&] { ++mapsOpened; });
    EXPECT_EQ(mapsOpened, 1);

    shownWindows.insert(notes.id); // Notes is open in front of the user
    openNotes();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(promptStaysAway());
    EXPECT_EQ(log.count(u"app lock:"_s), 0);

    // Its window leaving the screen starts the grace period.
    shownWindows.clear();
    lock->windowLeft(notes.id);
    nowMs += 5000;
    openNotes();
    EXPECT_EQ(opened, 2);
    nowMs += AppLock::gracePeriodMs;
    EXPECT_TRUE(lock->needsUnlock(notes.id));
}

TEST_F(AppLockTest, LockingAsksAndOpeningRightAfterDoesNot) {
    QSignalSpy changed(lock.get(), &AppLock::lockedIDsChanged);
    int sessionsChanged = 0;
    QObject observer;
    EventCenter::shared().observe(VantleEvent::sessionsChanged, &observer,
                                  [&](const QVariantMap&) { ++sessionsChanged; });

    lock->toggle(notes);
    EXPECT_EQ(answer(password), u"Vantle wants to lock Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return AppLock::isLocked(notes.id); }));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(sessionsChanged, 1);
    EXPECT_TRUE(log.lines().contains(u"app lock: Notes locked"_s));
    openNotes();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(promptStaysAway());

    // Stored as upper-case UUID strings, and read back by the next run.
    settings.reopen();
    EXPECT_EQ(VantleSettings::get(SettingsKeys::lockedApps),
              QVariantList{notes.id.toString(QUuid::WithoutBraces).toUpper()});

    lock->toggle(notes);
    EXPECT_EQ(answer(password), u"Vantle wants to remove the lock from Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return !AppLock::isLocked(notes.id); }));
    EXPECT_EQ(changed.count(), 2);

    // A refused toggle changes nothing.
    lock->toggle(notes);
    promptShown()->reject();
    ASSERT_TRUE(waitUntil([&] { return prompt.dialog() == nullptr; }));
    EXPECT_FALSE(AppLock::isLocked(notes.id));
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(AppLockTest, StoredEntriesThatAreNoUUIDAreSkipped) {
    VantleSettings::set(
        SettingsKeys::lockedApps,
        QVariantList{u"not-a-uuid"_s, qint64(7), notes.id.toString(QUuid::WithoutBraces), QString()});
    EXPECT_EQ(AppLock::lockedIDs(), QSet<QUuid>{notes.id});
    VantleSettings::set(SettingsKeys::lockedApps, u"everything"_s); // another type: nothing is locked
    EXPECT_TRUE(AppLock::lockedIDs().isEmpty());
}

TEST(AppLockWithoutPam, WithoutAPamServiceALockedAppNeverOpens) {
    ASSERT_TRUE(pamWrapperPreloaded);
    ScopedSettings settings;
    MainLogSince log;
    PasswordPrompt prompt("vantle-missing");
    AppLock lock(prompt);
    const MobileApp notes = appNamed(u"Notes"_s);
    VantleSettings::set(SettingsKeys::lockedApps, QVariantList{notes.id.toString()});
    bool opened = false;
    lock.unlockIfNeeded(notes, [&] { opened = true; });
    ASSERT_TRUE(waitUntil([&] { return log.count(u"app lock: authentication unavailable "_s) == 1; }));
    EXPECT_EQ(prompt.dialog(), nullptr);
    EXPECT_FALSE(opened);
    EXPECT_EQ(log.lines().last(), u"app lock: authentication unavailable Critical error - immediate abort"_s);
}

TEST_F(AppLockTest, ThePopupMakesWayForThePromptAndComesBackWhereItWas) {
    const QRectF popup(900, 30, 390, 760);
    bool popupShown = true;
    QList<QRectF> shownAt;
    AndroidWindowRegistry::shared().setHomePanel(
        {[&](QRectF frame) {
             popupShown = true;
             shownAt.append(frame);
         },
         [&]() -> std::optional<QRectF> { return popupShown ? std::optional(popup) : std::nullopt; },
         [&] { popupShown = false; }});
    lockInSettings({notes.id});
    openNotes();
    EXPECT_FALSE(popupShown);
    QDialog* dialog = promptShown();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(popupShown); // not behind the prompt
    dialog->reject();
    ASSERT_TRUE(waitUntil([&] { return popupShown; }));
    EXPECT_EQ(shownAt, QList<QRectF>{QRectF(popup.topLeft(), VantleLayout::size())});
    EXPECT_EQ(log.lines().last(), u"home page shown"_s);
}

TEST_F(AppLockTest, AClickOnALockedAppStartsItOnlyAfterThePassword) {
    AppLibraryStore store;
    store.setApps({notes});
    OpenAppFlow::Seams seams;
    seams.unlock = [this](const MobileApp& app, std::function<void()> then) {
        lock->unlockIfNeeded(app, std::move(then));
    };
    OpenAppFlow flow(store, seams);
    lockInSettings({notes.id});
    const QString before = store.statusMessage();

    flow.launch(notes);
    ASSERT_NE(promptShown(), nullptr);
    promptShown()->reject();
    ASSERT_TRUE(waitUntil([&] { return prompt.dialog() == nullptr; }));
    QTest::qWait(50);
    EXPECT_EQ(store.statusMessage(), before);
    EXPECT_FALSE(store.launchingAppID());

    flow.launch(notes);
    answer(password);
    // Past the lock the flow starts the app (which fails here: there is no Android).
    ASSERT_TRUE(waitUntil([&] { return log.lines().contains(u"open requested app=Notes-v7.2.1"_s); }));
}

TEST_F(AppLockTest, ScreenshotOfThePrompt) {
    const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS");
    if (folder.isEmpty()) GTEST_SKIP() << "VANTLE_SCREENSHOTS names no folder";
    lockInSettings({notes.id});
    openNotes();
    QDialog* dialog = promptShown();
    ASSERT_NE(dialog, nullptr);
    type(dialog->findChild<QLineEdit*>(u"password"_s), u"secret"_s);
    QTest::qWait(300);
    EXPECT_TRUE(dialog->grab().save(folder + u"/lock-password-prompt.png"_s));
}

namespace {
// The panel's actions as the app wires the lock into them; the rest is not reached here.
class LockingActions final : public LauncherActions {
public:
    explicit LockingActions(AppLock& lock)
        : m_lock(lock) {}
    void launch(const MobileApp&) override {}
    void confirmUninstall(const MobileApp&) override {}
    void prewarm() override {}
    void refreshAndroidState() override {}
    void syncInstalledApps() override {}
    void closeAllApps() override {}
    QStringList windowSizePresets() const override { return {}; }
    void applyWindowSize(int) override {}
    void revealInFileManager(const QString&) override {}
    void quit() override {}
    std::optional<bool> isLocked(const QUuid& id) const override { return AppLock::isLocked(id); }
    void toggleLock(const MobileApp& app) override { m_lock.toggle(app); }

private:
    AppLock& m_lock;
};

QStringList titles(QMenu& menu) {
    QStringList all;
    for (const QAction* action : menu.actions())
        all.append(action->isSeparator() ? u"—"_s : action->text());
    return all;
}
} // namespace

TEST_F(AppLockTest, ATileLocksThroughItsMenuAndWearsTheBadge) {
    AppLibraryStore store;
    store.setApps({notes});
    LockingActions actions(*lock);
    AppTile tile(notes, store, actions, AppIconStore::shared());
    {
        const auto menu = tile.makeContextMenu();
        EXPECT_EQ(titles(*menu).mid(0, 3),
                  (QStringList{u"Add to favourites"_s, u"Lock with password"_s, AppTile::revealTitle()}));
        EXPECT_FALSE(tile.isLockedMarked());
        menu->actions()[1]->trigger();
    }
    answer(password);
    ASSERT_TRUE(waitUntil([&] { return tile.isLockedMarked(); }));
    EXPECT_EQ(tile.toolTip(), u"Notes — Locked with password"_s);
    EXPECT_EQ(tile.accessibleDescription(), u"Locked with password"_s);
    EXPECT_EQ(titles(*tile.makeContextMenu())[1], u"Remove password lock"_s);
}

TEST_F(AppLockTest, TheLockCommandTogglesTheMatchingEntryThroughThePassword) {
    CommandRouter commands;
    Uninstaller uninstaller;
    const QList<MobileApp> library = {appNamed(u"Maps"_s), notes};
    registerDataCareCommands(
        commands,
        [&](const QString& text) -> std::optional<MobileApp> {
            for (const MobileApp& app : library)
                if (app.name.contains(text, Qt::CaseInsensitive)) return app;
            return std::nullopt;
        },
        *lock, uninstaller);
    EXPECT_TRUE(commands.dispatch(u"lock:nobody"_s));
    EXPECT_TRUE(promptStaysAway());
    EXPECT_TRUE(commands.dispatch(u"lock:notes"_s));
    EXPECT_EQ(answer(password), u"Vantle wants to lock Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return AppLock::isLocked(notes.id); }));
    EXPECT_FALSE(AppLock::isLocked(library[0].id));
    EXPECT_TRUE(commands.dispatch(u"uninstall-dryrun"_s));
    EXPECT_EQ(log.count(u"uninstall dry run - app: "_s), 1);
}
