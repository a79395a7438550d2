// The app lock with the real password prompt, checked by a real PAM stack (pam_wrapper with
// pam_matrix), then a locked app's real window on the simulated Android.
#include "apk/APKIconExtractor.h"
#include "core/AppLibraryStore.h"
#include "core/CommandRouter.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "datacare/AppLock.h"
#include "datacare/DataCareCommands.h"
#include "datacare/PasswordPrompt.h"
#include "datacare/Uninstaller.h"
#include "openapp/OpenAppFlow.h"
#include "platform/CurrentUser.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "support/DeviceFiles.h"
#include "support/SimulatedAndroid.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"
#include "windows/HeaderView.h"
#include "windows/VantleLayout.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The PAM stack of the lock tests: pam_wrapper's pam_matrix with one entry in its password file
// (the current user and `pamTestPassword`) for the service "vantle", the only one. pam_wrapper
// takes over libpam only when preloaded at start and reads its service folder once: a program
// started without it writes the folder and execs itself with both, before main(); the folder goes
// when that run ends. Sanitizers: the wrapper comes first in the preload list, deep binding off.
constexpr const char* pamTestPassword = "correct horse äß€";

bool preload() {
    const QByteArray preloaded = qgetenv("LD_PRELOAD");
    if (preloaded.contains("pam_wrapper")) {
        static const auto removal =
            qScopeGuard([] { QDir(qEnvironmentVariable("VANTLE_PAM_TEST_FOLDER")).removeRecursively(); });
        return true;
    }
    char folderTemplate[] = "/tmp/vantle-pam-XXXXXX";
    if (!::mkdtemp(folderTemplate)) return false;
    const QByteArray base = folderTemplate;
    const QByteArray user = CurrentUser::loginName().value_or(QString()).toUtf8();
    writeFile(QString::fromUtf8(base + "/passdb"), user + ':' + pamTestPassword + ":vantle\n");
    const QByteArray module = VANTLE_PAM_MATRIX " passdb=" + base + "/passdb";
    writeFile(QString::fromUtf8(base + "/services/vantle"),
              "auth required " + module + "\naccount required " + module + '\n');

    qputenv("LD_PRELOAD", VANTLE_PAM_WRAPPER + (preloaded.isEmpty() ? QByteArray() : ':' + preloaded));
    qputenv("PAM_WRAPPER", "1");
    qputenv("PAM_WRAPPER_SERVICE_DIR", base + "/services");
    qputenv("PAM_WRAPPER_DISABLE_DEEPBIND", "1");
    qputenv("UID_WRAPPER_DISABLE_DEEPBIND", "1"); // the name pam_wrapper 1.1.4 actually reads
    qputenv("VANTLE_PAM_TEST_FOLDER", base);
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    QList<QByteArray> arguments = readFile(QStringLiteral("/proc/self/cmdline")).split('\0');
    arguments.removeLast(); // after the last argument's terminator
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    return false; // exec failed: the tests say so
}

const bool pamWrapperPreloaded = preload();

const QString password = QString::fromUtf8(pamTestPassword);

// The password prompt as a person uses it.
QDialog* shown(const PasswordPrompt& prompt) {
    return waitUntil([&] { return prompt.dialog() && prompt.dialog()->isVisible(); }, 3000) ? prompt.dialog()
                                                                                            : nullptr;
}
bool staysAway(const PasswordPrompt& prompt) {
    return !waitUntil([&] { return prompt.dialog() != nullptr; }, AppLock::promptDelayMs + 300);
}
// Types `typed` as key presses carrying text (any keyboard layout) and presses OK; returns the
// prompt's reason text.
QString answer(const PasswordPrompt& prompt, const QString& typed) {
    QDialog* dialog = shown(prompt);
    if (!dialog) return u"<no prompt>"_s;
    auto* field = dialog->findChild<QLineEdit*>(u"password"_s);
    waitUntil([&] { return field->isEnabled(); });
    for (const QChar character : typed) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(field, &press);
    }
    QTest::mouseClick(dialog->findChild<QPushButton*>(u"unlock"_s), Qt::LeftButton);
    EXPECT_EQ(field->text(), QString()); // taken out of the field at once, before the check
    return dialog->findChild<QLabel*>(u"reason"_s)->text();
}
void cancel(const PasswordPrompt& prompt) {
    shown(prompt)->reject();
    waitUntil([&] { return prompt.dialog() == nullptr; });
}

// Locking, the grace period, wrong passwords, the commands, the popup around the prompt; then a
// locked app's real window: opened through the password, never asked for while on screen, asked for
// again once away longer than the grace period, unlocked by its header; last a missing PAM service.
// VANTLE_SCREENSHOTS=<folder> keeps pictures for scripts/take-screenshots.
TEST(AppLockTest, LockingAsksOnceInTheGracePeriodAndALockedWindowAsksOnlyWhenItComesBack) {
    ASSERT_TRUE(pamWrapperPreloaded);
    ScopedSettings settings;
    MainLogSince log;
    qint64 nowMs = 1'000'000;
    PasswordPrompt prompt;
    AppLock lock(prompt, {[&] { return nowMs; }}); // windows on screen are the registry's own
    MobileApp notes;
    notes.id = QUuid::createUuid();
    notes.name = u"Notes-v7.2.1"_s;
    int opened = 0;
    const auto openNotes = [&] { lock.unlockIfNeeded(notes, [&] { ++opened; }); };
    QSignalSpy changed(&lock, &AppLock::lockedIDsChanged);
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
        lock, uninstaller);
    EXPECT_TRUE(commands.dispatch(u"lock:nobody"_s));
    EXPECT_TRUE(staysAway(prompt));
    {
        // The home popup makes way for the prompt and comes back where it was.
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
        const auto forgetPopup = qScopeGuard([] { AndroidWindowRegistry::shared().setHomePanel({}); });
        EXPECT_TRUE(commands.dispatch(u"lock:notes"_s));
        EXPECT_FALSE(popupShown);
        ASSERT_NE(shown(prompt), nullptr);
        EXPECT_FALSE(popupShown); // not behind the prompt
        EXPECT_EQ(answer(prompt, password), u"Vantle wants to lock Notes."_s);
        ASSERT_TRUE(waitUntil([&] { return AppLock::isLocked(notes.id); }));
        EXPECT_EQ(shownAt, QList<QRectF>{QRectF(popup.topLeft(), VantleLayout::size())});
    }
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(sessionsChanged, 1);
    openNotes(); // right after locking: no second question
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(staysAway(prompt));
    settings.reopen(); // as the next run reads it
    EXPECT_EQ(VantleSettings::get(SettingsKeys::lockedApps),
              QVariantList{notes.id.toString(QUuid::WithoutBraces).toUpper()});

    nowMs += AppLock::gracePeriodMs + 1;
    openNotes();
    EXPECT_EQ(opened, 1); // nothing before the password
    EXPECT_EQ(answer(prompt, password), u"Vantle wants to open Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return opened == 2; }));
    nowMs += AppLock::gracePeriodMs; // exactly 10 s later: still within
    openNotes();
    EXPECT_EQ(opened, 3);
    EXPECT_TRUE(staysAway(prompt));
    nowMs += 1;
    openNotes();
    cancel(prompt);
    EXPECT_EQ(opened, 3);

    for (const QString& line :
         {u"home page shown"_s, u"app lock: Notes locked"_s, u"app lock: unlocked"_s,
          u"app lock: asking for the password to open Notes"_s, u"app lock: not unlocked (cancelled)"_s})
        EXPECT_TRUE(log.lines().contains(line)) << line.toStdString();
    // A wrong password may be retried, but not for ever.
    openNotes();
    answer(prompt, u"wrong"_s);
    auto* problem = shown(prompt)->findChild<QLabel*>(u"problem"_s);
    ASSERT_TRUE(waitUntil([&] { return problem->isVisible(); }, 10000));
    EXPECT_EQ(problem->text(), u"Wrong password. Try again."_s);
    answer(prompt, password);
    ASSERT_TRUE(waitUntil([&] { return opened == 4; }, 10000));
    nowMs += AppLock::gracePeriodMs + 1;
    openNotes();
    for (int attempt = 0; attempt < PasswordPrompt::attempts; ++attempt)
        answer(prompt, u"wrong"_s);
    ASSERT_TRUE(waitUntil(
        [&] { return log.lines().contains(u"app lock: not unlocked (Wrong password (3 attempts))"_s); },
        10000));
    EXPECT_EQ(opened, 4);

    lock.toggle(notes);
    cancel(prompt); // a refusal changes nothing
    EXPECT_TRUE(AppLock::isLocked(notes.id));
    lock.toggle(notes);
    EXPECT_EQ(answer(prompt, password), u"Vantle wants to remove the lock from Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return !AppLock::isLocked(notes.id); }));
    EXPECT_EQ(changed.count(), 2);
    VantleSettings::set(SettingsKeys::lockedApps,
                        QVariantList{u"not-a-uuid"_s, qint64(7), notes.id.toString()});
    EXPECT_EQ(AppLock::lockedIDs(), QSet<QUuid>{notes.id}); // entries that are no UUID are skipped
    EXPECT_TRUE(commands.dispatch(u"uninstall-dryrun"_s));
    EXPECT_EQ(log.count(u"uninstall dry run - app: "_s), 1);

    SCOPED_TRACE("a locked app's real window");
    SimulatedAndroidHome android;
    const ScopedEnvironment bundle("VANTLE_BUNDLE", QStringLiteral(VANTLE_BUILD_BRIDGE));
    RuntimeComponentLocator::clearCache();
    VantleSettings::set(SettingsKeys::forwardAudio, false);
    AppLibraryStore::Seams storeSeams;
    storeSeams.readApk = [](const QString& path) { return ApkReading{true, APKIconExtractor::label(path)}; };
    AppLibraryStore store(storeSeams);
    OpenAppFlow::Seams flowSeams;
    flowSeams.unlock = [&](const MobileApp& app, std::function<void()> then) {
        lock.unlockIfNeeded(app, std::move(then));
    };
    OpenAppFlow flow(store, flowSeams);
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    const auto closeWindows = qScopeGuard([&] {
        registry.closeAll();
        waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
        registry.cancelIdleShutdown();
    });
    const auto screenshot = [](QWidget* widget, const QString& name) {
        if (const QString shots = qEnvironmentVariable("VANTLE_SCREENSHOTS"); !shots.isEmpty()) {
            QTest::qWait(800);
            widget->grab().save(shots + u'/' + name + u".png"_s);
        }
    };
    store.addFiles({QUrl::fromLocalFile(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk"))});
    ASSERT_TRUE(waitUntil([&] { return !store.apps().isEmpty(); }));
    const MobileApp window = store.apps().value(0);
    VantleSettings::set(SettingsKeys::lockedApps, QVariantList{window.id.toString()});
    const auto panel = [&] { return registry.session(window.id)->panel(); };
    const auto windowShown = [&] {
        return waitUntil([&] { return registry.session(window.id) && panel()->isVisible(); }, 30000);
    };
    const auto lockButton = [&] { return panel()->header()->button(u"lock"_s); };

    flow.launch(window);
    EXPECT_TRUE(registry.sessions().isEmpty()); // nothing opens before the password
    EXPECT_EQ(answer(prompt, password), u"Vantle wants to open Notes."_s);
    ASSERT_TRUE(windowShown()) << store.statusMessage().toStdString();
    EXPECT_EQ(lockButton()->accessibleName(), u"Locked"_s);
    screenshot(panel(), u"lock-window-header"_s);
    // On screen: a click on the tile brings it forward without asking, however long it has been.
    nowMs += 60'000;
    flow.launch(window);
    EXPECT_EQ(store.statusMessage(), u"Notes is open"_s);
    EXPECT_EQ(prompt.dialog(), nullptr);
    // Hidden for less than the grace period: shown without asking.
    registry.session(window.id)->hide();
    nowMs += 5'000;
    lock.show(window.id);
    ASSERT_TRUE(windowShown());
    EXPECT_EQ(prompt.dialog(), nullptr);
    // Hidden for longer: the password first, and the window stays hidden until then.
    registry.session(window.id)->hide();
    nowMs += AppLock::gracePeriodMs + 1;
    lock.show(window.id);
    ASSERT_NE(shown(prompt), nullptr);
    EXPECT_FALSE(panel()->isVisible());
    screenshot(shown(prompt), u"lock-password-prompt"_s);
    EXPECT_EQ(answer(prompt, password), u"Vantle wants to open Notes."_s);
    ASSERT_TRUE(windowShown());
    // The header's lock button removes the lock, through the password; the window stays open.
    QTest::mouseClick(lockButton(), Qt::LeftButton);
    EXPECT_EQ(answer(prompt, password), u"Vantle wants to remove the lock from Notes."_s);
    ASSERT_TRUE(waitUntil([&] { return !AppLock::isLocked(window.id); }));
    EXPECT_EQ(lockButton()->accessibleName(), u"Lock"_s);
    EXPECT_TRUE(waitUntil([&] { return panel()->isVisible(); })); // back once the prompt has gone
    // Without a PAM service a locked app never opens.
    VantleSettings::set(SettingsKeys::lockedApps, QVariantList{notes.id.toString()});
    PasswordPrompt missing("vantle-missing");
    AppLock withoutPam(missing);
    withoutPam.unlockIfNeeded(notes, [&] { ++opened; });
    ASSERT_TRUE(waitUntil([&] {
        return log.count(u"app lock: authentication unavailable Critical error - immediate abort"_s) == 1;
    }));
    EXPECT_EQ(missing.dialog(), nullptr);
    EXPECT_EQ(opened, 4);
}

} // namespace
