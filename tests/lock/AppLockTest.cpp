// The app lock with the real password prompt, checked by a real PAM stack (pam_wrapper with
// pam_matrix): the grace period, locking, wrong passwords, a missing PAM service, the popup around
// the prompt and the "lock:" command.
#include "core/CommandRouter.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "datacare/DataCareCommands.h"
#include "datacare/Uninstaller.h"
#include "lock/PamTestStack.h"
#include "lock/PromptDriver.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/VantleLayout.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString password = QString::fromUtf8(pamTestPassword);

class AppLockTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    MainLogSince log;
    qint64 nowMs = 1'000'000;
    PasswordPrompt prompt;
    std::unique_ptr<AppLock> lock;
    MobileApp notes;
    int opened = 0;

    void SetUp() override {
        ASSERT_TRUE(pamWrapperPreloaded);
        notes.id = QUuid::createUuid();
        notes.name = u"Notes-v7.2.1"_s;
        lock = std::make_unique<AppLock>(prompt, AppLock::Seams{[this] { return nowMs; }});
        VantleSettings::set(SettingsKeys::lockedApps, QVariantList{notes.id.toString()});
    }
    void TearDown() override {
        if (QDialog* open = prompt.dialog()) open->reject();
        AndroidWindowRegistry::shared().setHomePanel({});
    }
    void openNotes() {
        lock->unlockIfNeeded(notes, [this] { ++opened; });
    }
    QString answer(const QString& typed) { return PromptDriver::answer(prompt, typed); }
    void cancel() {
        PromptDriver::shown(prompt)->reject();
        waitUntil([&] { return prompt.dialog() == nullptr; });
    }
};

} // namespace

TEST_F(AppLockTest, LockingAndOpeningAskOnceWithinTheGracePeriod) {
    VantleSettings::set(SettingsKeys::lockedApps, QVariantList{});
    QSignalSpy changed(lock.get(), &AppLock::lockedIDsChanged);
    int sessionsChanged = 0;
    QObject observer;
    EventCenter::shared().observe(VantleEvent::sessionsChanged, &observer,
                                  [&](const QVariantMap&) { ++sessionsChanged; });
    CommandRouter commands;
    Uninstaller uninstaller;
    registerDataCareCommands(
        commands,
        [&](const QString& text) {
            return notes.name.contains(text, Qt::CaseInsensitive) ? std::optional(notes) : std::nullopt;
        },
        *lock, uninstaller);
    EXPECT_TRUE(commands.dispatch(u"lock:nobody"_s));
    EXPECT_TRUE(PromptDriver::staysAway(prompt));
    EXPECT_TRUE(commands.dispatch(u"lock:notes"_s));
    EXPECT_EQ(answer(password), u"Vantle wants to lock Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return AppLock::isLocked(notes.id); }));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(sessionsChanged, 1);
    EXPECT_TRUE(log.lines().contains(u"app lock: Notes locked"_s));
    openNotes(); // right after locking: no second question
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(PromptDriver::staysAway(prompt));
    settings.reopen(); // as the next run reads it
    EXPECT_EQ(VantleSettings::get(SettingsKeys::lockedApps),
              QVariantList{notes.id.toString(QUuid::WithoutBraces).toUpper()});

    nowMs += AppLock::gracePeriodMs + 1;
    openNotes();
    EXPECT_EQ(opened, 1); // nothing before the password
    EXPECT_EQ(answer(password), u"Vantle wants to open Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return opened == 2; }));
    EXPECT_TRUE(log.lines().contains(u"app lock: asking for the password to open Notes"_s));
    EXPECT_TRUE(log.lines().contains(u"app lock: unlocked"_s));
    nowMs += AppLock::gracePeriodMs; // exactly 10 s later: still within
    openNotes();
    EXPECT_EQ(opened, 3);
    EXPECT_TRUE(PromptDriver::staysAway(prompt));
    nowMs += 1;
    openNotes();
    cancel();
    EXPECT_TRUE(log.lines().contains(u"app lock: not unlocked (cancelled)"_s));
    EXPECT_EQ(opened, 3);

    lock->toggle(notes);
    cancel(); // a refusal changes nothing
    EXPECT_TRUE(AppLock::isLocked(notes.id));
    lock->toggle(notes);
    EXPECT_EQ(answer(password), u"Vantle wants to remove the lock from Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return !AppLock::isLocked(notes.id); }));
    EXPECT_EQ(changed.count(), 2);
    VantleSettings::set(SettingsKeys::lockedApps,
                        QVariantList{u"not-a-uuid"_s, qint64(7), notes.id.toString()});
    EXPECT_EQ(AppLock::lockedIDs(), QSet<QUuid>{notes.id}); // entries that are no UUID are skipped
    EXPECT_TRUE(commands.dispatch(u"uninstall-dryrun"_s));
    EXPECT_EQ(log.count(u"uninstall dry run - app: "_s), 1);
}

TEST_F(AppLockTest, AWrongPasswordMayBeRetriedButNotForEver) {
    openNotes();
    answer(u"wrong"_s);
    auto* problem = PromptDriver::shown(prompt)->findChild<QLabel*>(u"problem"_s);
    ASSERT_TRUE(waitUntil([&] { return problem->isVisible(); }, 10000));
    EXPECT_EQ(problem->text(), u"Wrong password. Try again."_s);
    answer(password);
    ASSERT_TRUE(waitUntil([&] { return opened == 1; }, 10000));
    nowMs += AppLock::gracePeriodMs + 1;
    openNotes();
    for (int attempt = 0; attempt < PasswordPrompt::attempts; ++attempt)
        answer(u"wrong"_s);
    ASSERT_TRUE(waitUntil(
        [&] { return log.lines().contains(u"app lock: not unlocked (Wrong password (3 attempts))"_s); },
        10000));
    EXPECT_EQ(opened, 1);
}

TEST_F(AppLockTest, WithoutAPamServiceALockedAppNeverOpens) {
    PasswordPrompt missing("vantle-missing");
    AppLock withoutPam(missing);
    withoutPam.unlockIfNeeded(notes, [&] { ++opened; });
    ASSERT_TRUE(waitUntil([&] { return log.count(u"app lock: authentication unavailable "_s) == 1; }));
    EXPECT_EQ(missing.dialog(), nullptr);
    EXPECT_EQ(opened, 0);
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
    openNotes();
    EXPECT_FALSE(popupShown);
    ASSERT_NE(PromptDriver::shown(prompt), nullptr);
    EXPECT_FALSE(popupShown); // not behind the prompt
    cancel();
    ASSERT_TRUE(popupShown);
    EXPECT_EQ(shownAt, QList<QRectF>{QRectF(popup.topLeft(), VantleLayout::size())});
    EXPECT_EQ(log.lines().last(), u"home page shown"_s);
}
