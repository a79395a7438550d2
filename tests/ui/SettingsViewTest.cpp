// The settings pages: every control stores its setting (read back from the settings file) and
// reaches what applies it; the panel's "Settings", its menu order, the tile menu and badges; the
// commands that open the settings and change the panel's look, through the real command channel.
#include "ui/SettingsView.h"

#include "PanelFixture.h"
#include "RecordingSettingsActions.h"
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/VantleEvents.h"
#include "integrations/DeviceSettings.h"
#include "platform/Locations.h"
#include "ui/LoginItem.h"
#include "ui/Wallpaper.h"
#include "updates/AppUpdates.h"
#include "windows/AndroidWindowRegistry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList actionTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions())
        if (!action->isSeparator()) texts.append(action->text());
    return texts;
}

// In a Vantle home of its own: the login entry, the wallpaper copy and the command socket live there.
class SettingsViewTest : public PanelFixture {
protected:
    void SetUp() override {
        PanelFixture::SetUp();
        qputenv("VANTLE_HOME", home.path().toUtf8());
    }
    void TearDown() override { qputenv("VANTLE_HOME", previousHome); }

    std::unique_ptr<MenuPanel> makeSettingsPanel(AppLibraryStore& on) {
        MenuPanel::Environment withSettings = environment();
        withSettings.settings = &settingsActions;
        withSettings.choosePhoto = [this](QWidget*) { return chosenPhoto; };
        auto panel = std::make_unique<MenuPanel>(on, actions, withSettings);
        panel->resize(390, 760);
        return panel;
    }
    std::unique_ptr<SettingsView> makeView() {
        return std::make_unique<SettingsView>(
            store, actions, settingsActions,
            SettingsView::Environment{[this](QWidget*) { return chosenPhoto; }});
    }
    // How many times the event named after `key` was posted since this call.
    std::shared_ptr<int> countEvents(QLatin1StringView key) {
        auto count = std::make_shared<int>(0);
        EventCenter::shared().observe(key, &observer, [count](const QVariantMap&) { ++*count; });
        return count;
    }
    QString photoFile(const QString& name, const QColor& colour) {
        QImage image(64, 40, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = files.filePath(name);
        EXPECT_TRUE(image.save(path));
        return path;
    }
    static void choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    }

    QByteArray previousHome = qgetenv("VANTLE_HOME");
    QTemporaryDir home;
    RecordingSettingsActions settingsActions;
    QString chosenPhoto;
    QObject observer;
};

TEST_F(SettingsViewTest, EveryControlStoresItsSettingAndReachesWhatAppliesIt) {
    auto view = makeView();
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    struct Row {
        QLatin1StringView key;
        QVariant value; // what the user picks; a switch is clicked once (every default is then changed)
        std::function<bool()> effect = {}; // seen in the part that uses the setting, beyond the stored value
        QString logged = {};               // the line the change writes, if any
    };
    const Row rows[] = {
        {SettingsKeys::hotKey.name, false},
        {SettingsKeys::appShortcuts.name, false},
        {SettingsKeys::theme.name, u"ios"_s},
        {SettingsKeys::miniPlayer.name, false},
        {SettingsKeys::singleApp.name, false, [] { return !AndroidWindowRegistry::singleAppMode(); }},
        {SettingsKeys::notifications.name, false},
        {SettingsKeys::prewarm.name, false},
        {SettingsKeys::idleShutdownMinutes.name, 15.0, [&registry] { return registry.idleShutdownPending(); },
         u"idle: Android stops in 15.0 min unless an app is opened"_s},
        {SettingsKeys::idleShutdownMinutes.name, 0.0,
         [&registry] { return !registry.idleShutdownPending(); }},
        {SettingsKeys::desktopNotifications.name, false},
        {SettingsKeys::syncDownloads.name, false},
        {SettingsKeys::syncDarkMode.name, false},
        {SettingsKeys::micCamera.name, true, {}, u"microphone/camera setting changed"_s},
        {SettingsKeys::adBlock.name, false},
        {SettingsKeys::adBlockHost.name, AndroidAdBlock::providers()[1].host},
        {SettingsKeys::checkUpdates.name, false},
        {SettingsKeys::updatesFDroid.name, false},
        {SettingsKeys::updatesIzzy.name, false},
    };
    registry.scheduleIdleShutdown(); // pending with the default 5 minutes
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key.data());
        const QString key(row.key);
        const auto posted = countEvents(row.key);
        const MainLogSince log;
        if (auto* box = view->findChild<QCheckBox*>(key)) {
            ASSERT_NE(box->isChecked(), row.value.toBool());
            box->click();
        } else {
            auto* combo = view->findChild<QComboBox*>(key);
            ASSERT_NE(combo, nullptr);
            const int index = combo->findData(row.value);
            ASSERT_GE(index, 0);
            choose(combo, index);
        }
        EXPECT_EQ(*posted, 1);
        if (!row.logged.isEmpty()) {
            EXPECT_EQ(log.count(row.logged), 1);
        }
        settings.reopen(); // what the next run of Vantle reads
        EXPECT_EQ(VantleSettings::store().value(key), row.value);
        if (row.effect) {
            EXPECT_TRUE(row.effect());
        }
    }
    registry.cancelIdleShutdown();

    // A value changed elsewhere (a command) shows when the page is shown again.
    VantleSettings::set(SettingsKeys::prewarm, true);
    VantleSettings::set(SettingsKeys::theme, u"pixel"_s);
    view->reload();
    EXPECT_TRUE(view->findChild<QCheckBox*>(SettingsKeys::prewarm.key())->isChecked());
    EXPECT_EQ(view->findChild<QComboBox*>(SettingsKeys::theme.key())->currentText(), u"Pixel style"_s);
}

TEST_F(SettingsViewTest, PagesComeInOrderAndTheLastOneShownIsRemembered) {
    EXPECT_EQ(SettingsView::pageTitles(),
              (QStringList{u"General"_s, u"Android"_s, u"App lock"_s, u"Updates"_s, u"About"_s}));
    auto view = makeView();
    EXPECT_EQ(view->currentPage(), 0);
    view->pageButton(3)->click();
    EXPECT_EQ(view->currentPage(), 3);
    EXPECT_TRUE(view->pageButton(3)->isChecked() && !view->pageButton(0)->isChecked());
    EXPECT_TRUE(view->page(3)->isAncestorOf(view->findChild<QPushButton*>(u"checkNow"_s)));
    settings.reopen();
    EXPECT_EQ(VantleSettings::get(SettingsKeys::settingsPage), 3);
    EXPECT_EQ(makeView()->currentPage(), 3);
    VantleSettings::set(SettingsKeys::settingsPage, qint64(9)); // from an older or newer Vantle
    EXPECT_EQ(makeView()->currentPage(), 4);

    // The buttons call the application.
    for (const char16_t* button : {u"checkNow", u"bugReport", u"uninstallVantle"})
        view->findChild<QPushButton*>(QString::fromUtf16(button))->click();
    EXPECT_EQ(settingsActions.calls,
              (QStringList{u"checkUpdatesNow"_s, u"composeBugReport"_s, u"uninstallVantle"_s}));
}

TEST_F(SettingsViewTest, CheckNowShowsWhatTheCheckFound) {
    AppUpdates updates;
    SettingsView view(store, actions, settingsActions, {{}, &updates});
    settingsActions.onCheckNow = [&] { updates.checkIfDue(store, AppUpdates::Trigger::forced); };
    for (const QLatin1StringView source : {SettingsKeys::updatesFDroid.name, SettingsKeys::updatesIzzy.name})
        view.findChild<QCheckBox*>(QString(source))->click(); // both stores off: nothing is asked
    view.findChild<QPushButton*>(u"checkNow"_s)->click();
    EXPECT_TRUE(waitUntil([&] { return !updates.isChecking(); }));
    EXPECT_EQ(view.findChild<QLabel*>(u"updatesStatus"_s)->text(), u"No store is turned on"_s);
    EXPECT_TRUE(view.findChild<QPushButton*>(u"checkNow"_s)->isEnabled());
}

TEST_F(SettingsViewTest, TheLoginSwitchWritesTheEntryAndShowsAFailureUnderIt) {
    auto view = makeView();
    auto* login = view->findChild<QCheckBox*>(u"loginItem"_s);
    EXPECT_FALSE(login->isChecked());
    login->click();
    EXPECT_TRUE(LoginItem::isEnabled() && QFile::exists(Locations::autostartEntry()));
    login->click();
    EXPECT_FALSE(QFile::exists(Locations::autostartEntry()));

    // A file where the autostart folder should be: the switch stays off and says why.
    const QString folder = QFileInfo(Locations::autostartEntry()).absolutePath();
    ASSERT_TRUE(QDir(folder).removeRecursively() && QDir().mkpath(QFileInfo(folder).absolutePath()));
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    login->click();
    EXPECT_FALSE(login->isChecked());
    const auto problems = view->findChildren<QLabel*>(u"settingsProblem"_s);
    EXPECT_TRUE(std::any_of(problems.cbegin(), problems.cend(), [&](const QLabel* label) {
        return !label->isHidden() &&
               label->text() == u"Your desktop did not allow this: cannot create the folder "_s + folder;
    }));
}

TEST_F(SettingsViewTest, ShortcutsSayWhyTheyAreUnavailable) {
    EXPECT_EQ(makeView()->findChild<QLabel*>(u"shortcutsUnavailable"_s), nullptr);
    settingsActions.unavailableReason = u"this desktop is a Wayland session without global shortcuts"_s;
    const auto view = makeView();
    const auto* note = view->findChild<QLabel*>(u"shortcutsUnavailable"_s);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(),
              u"Shortcuts are not available on this desktop: "_s + settingsActions.unavailableReason);
}

TEST_F(SettingsViewTest, AChosenPhotoBecomesTheWallpaperAndABadFileChangesNothing) {
    add(u"Maps"_s);
    auto panel = makeSettingsPanel(store);
    panel->showSettings();
    SettingsView* view = panel->settingsView();
    auto* wallpaper = view->findChild<QComboBox*>(SettingsKeys::wallpaper.key());
    const auto texts = [wallpaper] {
        QStringList result;
        for (int i = 0; i < wallpaper->count(); ++i)
            result.append(wallpaper->itemText(i));
        return result;
    };
    EXPECT_EQ(texts(), (QStringList{u"none"_s, u"Choose a photo…"_s}));
    EXPECT_TRUE(panel->wallpaper().isNull());

    choose(wallpaper, 1); // cancelled
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaper), u"none"_s);

    chosenPhoto = photoFile(u"beach.png"_s, Qt::blue);
    choose(wallpaper, 1);
    settings.reopen();
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaper), u"photo"_s);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaperRevision), 1);
    EXPECT_EQ(texts(), (QStringList{u"none"_s, u"My photo"_s, u"Choose a photo…"_s}));
    EXPECT_EQ(wallpaper->currentText(), u"My photo"_s);
    ASSERT_FALSE(panel->wallpaper().isNull());
    EXPECT_EQ(panel->wallpaper().pixelColor(0, 0), QColor(Qt::blue));
    QFile::remove(chosenPhoto); // the copy is Vantle's own
    EXPECT_EQ(Wallpaper::current().pixelColor(0, 0), QColor(Qt::blue));

    // Not a photo: the wallpaper and its revision stay, the page says why.
    chosenPhoto = files.filePath(u"notes.txt"_s);
    writeFile(chosenPhoto, "just text");
    choose(wallpaper, 2);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaperRevision), 1);
    EXPECT_EQ(Wallpaper::current().pixelColor(0, 0), QColor(Qt::blue));
    const auto problems = view->findChildren<QLabel*>(u"settingsProblem"_s);
    EXPECT_TRUE(std::any_of(problems.cbegin(), problems.cend(), [](const QLabel* label) {
        return !label->isHidden() &&
               label->text().startsWith(u"“notes.txt” is not a photo Vantle can read"_s);
    }));

    chosenPhoto = photoFile(u"forest.jpg"_s, Qt::darkGreen);
    choose(wallpaper, 2);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaperRevision), 2);
    EXPECT_EQ(panel->wallpaper().pixelColor(0, 0).green(), QColor(Qt::darkGreen).green());

    choose(wallpaper, 0);
    EXPECT_EQ(VantleSettings::get(SettingsKeys::wallpaper), u"none"_s);
    EXPECT_TRUE(panel->wallpaper().isNull());
}

TEST_F(SettingsViewTest, AppLockPageLocksThroughTheApplication) {
    const MobileApp maps = add(u"Maps"_s);
    actions.locked = false;
    auto view = makeView();
    view->show();
    auto* box = view->findChild<QCheckBox*>(u"lock:"_s + maps.id.toString(QUuid::WithoutBraces));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), u"Maps"_s);
    box->click(); // the owner refuses: the double stays unlocked
    EXPECT_EQ(actions.calls.filter(u"toggleLock"_s), QStringList{u"toggleLock Maps"_s});
    EXPECT_FALSE(box->isChecked());
    actions.locked = true; // the lock changed after authentication and said so
    EventCenter::shared().post(VantleEvent::sessionsChanged);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(
        view->findChild<QCheckBox*>(u"lock:"_s + maps.id.toString(QUuid::WithoutBraces))->isChecked());
}

TEST_F(SettingsViewTest, PanelMenuTileMenuAndBadges) {
    const MobileApp maps = add(u"Maps"_s);
    actions.backups = true;
    actions.presets = {u"Medium — 380 × 720"_s};
    actions.locked = true;
    actions.inTray = false;
    auto panel = makeSettingsPanel(store);
    QMenu* menu = panel->panelMenu();
    Q_EMIT menu->aboutToShow();
    EXPECT_EQ(actionTexts(*menu), (QStringList{u"Settings"_s, u"Restore from backup…"_s, u"Window size"_s,
                                               u"Close all apps"_s, u"Quit Vantle"_s}));
    menu->actions().first()->trigger();
    EXPECT_TRUE(panel->isShowingSettings());
    store.setApps(store.apps()); // a change of the library does not throw the user out
    EXPECT_TRUE(panel->isShowingSettings());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &escape);
    EXPECT_FALSE(panel->isShowingSettings());
    panel->show();
    EventCenter::shared().post(VantleEvent::showSettingsPage);
    EXPECT_TRUE(panel->isShowingSettings());
    panel->hide(); // put away: it comes back with the apps
    EXPECT_FALSE(panel->isShowingSettings());
    EXPECT_EQ(panel->tiles().size(), 1);

    AppTile* tile = panel->tiles().first();
    EXPECT_EQ(actionTexts(*tile->makeContextMenu()),
              (QStringList{u"Add to favourites"_s, u"Show in tray"_s, u"Remove password lock"_s,
                           u"Back up app data…"_s, u"Show APK in Files"_s, u"Remove from Vantle"_s,
                           u"Uninstall from Android…"_s}));
    store.setRunningAppIDs({maps.id});
    store.setLaunchingAppID(maps.id);
    EXPECT_TRUE(tile->isRunningMarked() && tile->isLaunchingMarked() && tile->isLockedMarked());
    EXPECT_EQ(tile->accessibleDescription(), u"Locked with password"_s);
    store.setRunningAppIDs({});
    store.setLaunchingAppID(std::nullopt);
    actions.locked = false;
    EventCenter::shared().post(VantleEvent::sessionsChanged);
    EXPECT_FALSE(tile->isRunningMarked() || tile->isLaunchingMarked() || tile->isLockedMarked());
    EXPECT_EQ(tile->accessibleDescription(), QString());
}

TEST_F(SettingsViewTest, CommandsOpenTheSettingsAndChangeThePanelThroughTheChannel) {
    VantleApp vantle(LaunchArguments::parse({u"vantle"_s}), AppLibraryStore::Seams{}, VantleApp::Steps{});
    ASSERT_TRUE(vantle.start());
    QList<MobileApp> apps;
    for (const QString& name : {u"Maps"_s, u"Mail"_s}) {
        MobileApp app;
        app.id = QUuid::createUuid();
        app.name = name;
        app.sourcePath = u"/nowhere/"_s + name + u".apk"_s;
        apps.append(app);
    }
    vantle.store().setApps(apps);
    auto panel = makeSettingsPanel(vantle.store());
    panel->show();
    const auto send = [](const QString& command) {
        EXPECT_EQ(sendFromAnotherThread(command), CommandDelivery::delivered);
    };

    for (const QString& command : {u"settings"_s, u"home-settings"_s}) {
        SCOPED_TRACE(command.toStdString());
        panel->showLauncher();
        send(command);
        EXPECT_TRUE(waitUntil([&] { return panel->isShowingSettings(); }));
    }
    panel->showLauncher();

    // The panel draws its tiles again in the new style at once.
    const QImage classic = panel->grab().toImage();
    send(u"theme:pixel"_s);
    EXPECT_TRUE(waitUntil([] { return VantleSettings::get(SettingsKeys::theme) == u"pixel"_s; }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_NE(panel->grab().toImage(), classic);

    ASSERT_EQ(Wallpaper::adopt(photoFile(u"sky.png"_s, Qt::cyan)), std::nullopt);
    send(u"wallpaper:none"_s);
    EXPECT_TRUE(waitUntil([&] { return panel->wallpaper().isNull(); }));
    send(u"wallpaper:photo"_s);
    EXPECT_TRUE(waitUntil([&] { return panel->wallpaper().pixelColor(0, 0) == QColor(Qt::cyan); }));

    send(u"hide-apps:maps,,"_s);
    ASSERT_TRUE(waitUntil([&] { return panel->tiles().size() == 1; }));
    EXPECT_EQ(panel->tiles().first()->app().name, u"Mail"_s);
    send(u"hide-apps:"_s);
    EXPECT_TRUE(waitUntil([&] { return panel->tiles().size() == 2; }));
}

} // namespace
