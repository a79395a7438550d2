// The settings pages: each control's setting and effect, the login entry, the wallpaper, the look commands.
#include "ui/SettingsView.h"

#include "PanelFixture.h"
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/VantleEvents.h"
#include "platform/Locations.h"
#include "platform/LoginRegistration.h"
#include "ui/LoginItem.h"
#include "ui/Wallpaper.h"
#include "updates/AppUpdates.h"
#include "windows/AndroidWindowRegistry.h"

#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;

namespace {

class SettingsViewTest : public PanelFixture {
protected:
    SettingsViewTest() { withSettings = true; }

    // Whether a problem line on the page shows a text that starts with `text`.
    static bool problemShown(const QWidget& view, const QString& text) {
        const auto problems = view.findChildren<QLabel*>(u"settingsProblem"_s);
        return std::any_of(problems.cbegin(), problems.cend(), [&](const QLabel* label) {
            return !label->isHidden() && label->text().startsWith(text);
        });
    }
};

TEST_F(SettingsViewTest, EveryControlStoresAndAppliesItsSettingAndThePanelOpensThePagesAndTakesAWallpaper) {
    // Open at login is on by default once, never against the user's choice.
    const QString entry = Locations::autostartEntry();
    const auto validates = [&] { return QProcess::execute(u"desktop-file-validate"_s, {entry}) == 0; };
    MainLogSince log;
    LoginItem::enableByDefaultOnce();
    EXPECT_TRUE(LoginItem::isEnabled() && validates());
    EXPECT_EQ(log.count(u"open at login enabled=true status=enabled"_s), 1);
    EXPECT_EQ(SettingsView::pageTitles(),
              (QStringList{u"General"_s, u"Android"_s, u"App lock"_s, u"Updates"_s, u"About"_s}));
    const MobileApp maps = add(u"Maps"_s);
    actions.locked = false;
    AppUpdates updates;
    settingsActions.onCheckNow = [&] { updates.checkIfDue(store, AppUpdates::Trigger::forced); };
    SettingsView view(store, actions, settingsActions, {{}, &updates});
    view.show();
    EXPECT_EQ(view.findChild<QLabel*>(u"shortcutsUnavailable"_s), nullptr);
    EXPECT_EQ(view.currentPage(), 0);

    // Every control stores its setting and reaches what applies it (device read-backs: ShellOnAndroidTest).
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    struct Row {
        QLatin1StringView key;
        QVariant value;                    // what the user picks; every row changes the control
        std::function<bool()> effect = {}; // seen in the part that uses the setting, beyond the stored value
        QString logged = {};               // the line the change writes, if any
    };
    std::vector<Row> rows{
        {SettingsKeys::theme.name, u"ios"_s},
        {SettingsKeys::singleApp.name, false, [] { return !AndroidWindowRegistry::singleAppMode(); }},
        {SettingsKeys::idleShutdownMinutes.name, 15.0, [&registry] { return registry.idleShutdownPending(); },
         u"idle: Android stops in 15.0 min unless an app is opened"_s},
        {SettingsKeys::idleShutdownMinutes.name, 0.0,
         [&registry] { return !registry.idleShutdownPending(); }},
        {SettingsKeys::micCamera.name, true, {}, u"microphone/camera setting changed"_s},
    };
    for (QLatin1StringView key :
         {SettingsKeys::hotKey.name, SettingsKeys::appShortcuts.name, SettingsKeys::miniPlayer.name,
          SettingsKeys::notifications.name, SettingsKeys::prewarm.name,
          SettingsKeys::desktopNotifications.name, SettingsKeys::syncDownloads.name,
          SettingsKeys::checkUpdates.name, SettingsKeys::updatesFDroid.name, SettingsKeys::updatesIzzy.name})
        rows.push_back({key, false}); // switches on by default
    registry.scheduleIdleShutdown();  // pending with the default 5 minutes
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key.data());
        const QString key(row.key);
        QObject observer; // counts the events named after the key
        int posted = 0;
        EventCenter::shared().observe(row.key, &observer, [&posted](const QVariantMap&) { ++posted; });
        const MainLogSince log;
        ASSERT_TRUE(setControl(view, key, row.value));
        EXPECT_EQ(posted, 1); // a switch already in the row's state would post nothing
        EXPECT_TRUE(row.logged.isEmpty() || log.count(row.logged) == 1);
        settings.reopen(); // what the next run of Vantle reads
        EXPECT_EQ(VantleSettings::store().value(key), row.value);
        EXPECT_TRUE(!row.effect || row.effect());
    }
    registry.cancelIdleShutdown();

    // A value changed elsewhere (a command) shows when the page is shown again.
    VantleSettings::set(SettingsKeys::prewarm, true);
    VantleSettings::set(SettingsKeys::theme, u"pixel"_s);
    view.reload();
    EXPECT_TRUE(view.findChild<QCheckBox*>(SettingsKeys::prewarm.key())->isChecked());
    EXPECT_EQ(view.findChild<QComboBox*>(SettingsKeys::theme.key())->currentText(), u"Pixel style"_s);

    view.pageButton(3)->click();
    EXPECT_EQ(view.currentPage(), 3);
    EXPECT_TRUE(view.pageButton(3)->isChecked() && !view.pageButton(0)->isChecked());
    EXPECT_TRUE(view.page(3)->isAncestorOf(view.findChild<QPushButton*>(u"checkNow"_s)));
    settings.reopen(); // a new view opens on the page stored
    EXPECT_EQ(SettingsView(store, actions, settingsActions).currentPage(), 3);
    VantleSettings::set(SettingsKeys::settingsPage, qint64(9)); // from an older or newer Vantle
    EXPECT_EQ(SettingsView(store, actions, settingsActions).currentPage(), 4);

    // With both stores off (above) the check asks nothing, and the page says so.
    for (const char16_t* button : {u"checkNow", u"bugReport", u"uninstallVantle"})
        view.findChild<QPushButton*>(QString::fromUtf16(button))->click();
    EXPECT_EQ(settingsActions.calls,
              (QStringList{u"checkUpdatesNow"_s, u"composeBugReport"_s, u"uninstallVantle"_s}));
    EXPECT_TRUE(waitUntil([&] { return !updates.isChecking(); }));
    EXPECT_EQ(view.findChild<QLabel*>(u"updatesStatus"_s)->text(), u"No store is turned on"_s);
    EXPECT_TRUE(view.findChild<QPushButton*>(u"checkNow"_s)->isEnabled());

    // The lock goes through the application, which may refuse; the box shows what is.
    const QString lockName = u"lock:"_s + maps.id.toString(QUuid::WithoutBraces);
    auto* box = view.findChild<QCheckBox*>(lockName);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), u"Maps"_s);
    box->click();
    EXPECT_EQ(actions.calls.filter(u"toggleLock"_s), QStringList{u"toggleLock Maps"_s});
    EXPECT_FALSE(box->isChecked());
    actions.locked = true; // the lock changed after authentication and said so
    EventCenter::shared().post(VantleEvent::sessionsChanged);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(view.findChild<QCheckBox*>(lockName)->isChecked());

    settingsActions.unavailableReason = u"this desktop is a Wayland session without global shortcuts"_s;
    const SettingsView withNote(store, actions, settingsActions);
    const auto* note = withNote.findChild<QLabel*>(u"shortcutsUnavailable"_s);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(),
              u"Shortcuts are not available on this desktop: "_s + settingsActions.unavailableReason);

    // The login switch shows the entry made by default once; the user's choice holds; failures show.
    auto* login = view.findChild<QCheckBox*>(u"loginItem"_s);
    EXPECT_TRUE(login->isChecked());
    login->click(); // the user switches it off
    LoginItem::enableByDefaultOnce();
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_EQ(log.count(u"open at login enabled=false status=notRegistered"_s), 1);

    EXPECT_EQ(LoginRegistration::enable(u"/opt/My Apps/$HOME \"q\" `x` back\\slash 100%/vantle"_s),
              std::nullopt);
    EXPECT_TRUE(validates());
    EXPECT_TRUE(readFile(entry).contains(
        R"(Exec="/opt/My Apps/\\$HOME \\"q\\" \\`x\\` back\\\\slash 100%%/vantle")"));
    ASSERT_TRUE(writeFile(entry, readFile(entry) + "Hidden=true\n")); // skipped by the desktop: off
    EXPECT_EQ(LoginRegistration::status(), LoginRegistration::Status::disabled);
    EXPECT_NE(LoginRegistration::enable(u"/opt/two\nlines"_s), std::nullopt);

    // A file where the autostart folder should be: the switch stays off and says why.
    const QString folder = QFileInfo(entry).absolutePath();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(writeFile(folder, {}));
    login->click();
    EXPECT_FALSE(login->isChecked() || LoginItem::isEnabled());
    EXPECT_TRUE(problemShown(view, u"Your desktop did not allow this: cannot create the folder "_s + folder));

    // The panel's way into the settings and back; a photo wallpaper (a bad file changes nothing); looks.
    VantleApp vantle(LaunchArguments::parse({u"vantle"_s}), AppLibraryStore::Seams{}, VantleApp::Steps{});
    ASSERT_TRUE(vantle.start());
    vantle.store().setApps({add(u"Maps"_s)});
    auto panel = makePanel(&vantle.store());
    Q_EMIT panel->panelMenu()->aboutToShow();
    menuTexts(*panel->panelMenu(), u"Settings"_s);
    EXPECT_TRUE(panel->isShowingSettings());
    vantle.store().setApps(vantle.store().apps()); // a change of the library does not throw the user out
    EXPECT_TRUE(panel->isShowingSettings());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &escape);
    EXPECT_FALSE(panel->isShowingSettings());
    panel->show();
    for (const QString& command : {u"settings"_s, u"home-settings"_s}) {
        SCOPED_TRACE(command.toStdString());
        panel->showLauncher();
        EXPECT_EQ(sendFromAnotherThread(command), CommandDelivery::delivered);
        EXPECT_TRUE(waitUntil([&] { return panel->isShowingSettings(); }));
    }
    panel->hide(); // put away: it comes back with the apps
    EXPECT_FALSE(panel->isShowingSettings());
    panel->show();
    EXPECT_EQ(panel->tiles().size(), 1);

    const QImage pixel = panel->grab().toImage(); // the style set above
    EXPECT_EQ(sendFromAnotherThread(u"theme:oneui"_s), CommandDelivery::delivered);
    EXPECT_TRUE(waitUntil([] { return VantleSettings::get(SettingsKeys::theme) == u"oneui"_s; }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_NE(panel->grab().toImage(), pixel);

    panel->showSettings();
    SettingsView* panelView = panel->settingsView();
    auto* wallpaper = panelView->findChild<QComboBox*>(SettingsKeys::wallpaper.key());
    EXPECT_EQ(wallpaper->count(), 2); // no "My photo" yet: its choices are below
    EXPECT_TRUE(panel->wallpaper().isNull());

    Q_EMIT wallpaper->activated(1); // cancelled
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaper), u"none"_s);

    chosenPhoto = files.filePath(u"beach.png"_s);
    QImage photo(64, 40, QImage::Format_RGB32);
    photo.fill(Qt::blue);
    ASSERT_TRUE(photo.save(chosenPhoto));
    Q_EMIT wallpaper->activated(1);
    settings.reopen();
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaper), u"photo"_s);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaperRevision), 1);
    QStringList choices;
    for (int i = 0; i < wallpaper->count(); ++i)
        choices.append(wallpaper->itemText(i));
    EXPECT_EQ(choices, (QStringList{u"none"_s, u"My photo"_s, u"Choose a photo…"_s}));
    EXPECT_EQ(wallpaper->currentText(), u"My photo"_s);
    ASSERT_FALSE(panel->wallpaper().isNull());
    EXPECT_EQ(panel->wallpaper().pixelColor(0, 0), QColor(Qt::blue));
    QFile::remove(chosenPhoto); // the copy is Vantle's own
    EXPECT_EQ(Wallpaper::current().pixelColor(0, 0), QColor(Qt::blue));

    // Not a photo: the wallpaper and its revision stay, the page says why.
    chosenPhoto = files.filePath(u"notes.txt"_s);
    writeFile(chosenPhoto, "just text");
    Q_EMIT wallpaper->activated(2);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaperRevision), 1);
    EXPECT_EQ(Wallpaper::current().pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_TRUE(problemShown(*panelView, u"“notes.txt” is not a photo Vantle can read"_s));

    chosenPhoto = files.filePath(u"forest.jpg"_s);
    photo.fill(Qt::darkGreen);
    ASSERT_TRUE(photo.save(chosenPhoto));
    Q_EMIT wallpaper->activated(2);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaperRevision), 2);
    EXPECT_EQ(panel->wallpaper().pixelColor(0, 0).green(), QColor(Qt::darkGreen).green());

    Q_EMIT wallpaper->activated(0);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaper), u"none"_s);
    EXPECT_TRUE(panel->wallpaper().isNull());

    EXPECT_EQ(sendFromAnotherThread(u"wallpaper:photo"_s), CommandDelivery::delivered);
    EXPECT_TRUE(waitUntil([&] { return !panel->wallpaper().isNull(); }));
    EXPECT_EQ(panel->wallpaper().pixelColor(0, 0).green(), QColor(Qt::darkGreen).green());
    EXPECT_EQ(sendFromAnotherThread(u"wallpaper:none"_s), CommandDelivery::delivered);
    EXPECT_TRUE(waitUntil([&] { return panel->wallpaper().isNull(); }));
}

} // namespace
