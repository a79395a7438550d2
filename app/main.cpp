// vantle: the desktop application (tray icon and panel).
#include "apk/ApkFile.h"
#include "apk/AppIconStore.h"
#include "app/LaunchApk.h"
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "datacare/AppLock.h"
#include "datacare/BackupFlow.h"
#include "datacare/BugReport.h"
#include "datacare/DataCareCommands.h"
#include "datacare/PasswordPrompt.h"
#include "datacare/Uninstaller.h"
#include "external/AndroidPlayerWindow.h"
#include "external/AndroidSessionRegistry.h"
#include "integrations/DeviceSettings.h"
#include "integrations/DownloadSync.h"
#include "integrations/MacNotifier.h"
#include "openapp/OpenAppFlow.h"
#include "platform/CommandChannel.h"
#include "platform/FileReveal.h"
#include "platform/GlobalHotKeys.h"
#include "platform/InstanceLock.h"
#include "platform/Locations.h"
#include "platform/TerminationSignals.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"
#include "ui/HomePanelController.h"
#include "ui/LauncherActions.h"
#include "ui/LoginItem.h"
#include "ui/MenuBarExtras.h"
#include "ui/RegistryAppWindows.h"
#include "ui/SettingEffects.h"
#include "ui/SettingsActions.h"
#include "ui/VantleHotKey.h"
#include "updates/AppUpdates.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"
#include "windows/NowPlayingPublisher.h"
#include "windows/WindowCommands.h"
#include "windows/WindowSizePreset.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QtConcurrent>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

// Runs blocking device work on the Android pool; its result is not needed.
void inBackground(void (*work)()) {
    (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), work);
}

void registerDeviceSettingCommands(CommandRouter& commands) {
    // As the settings page's switch does.
    commands.on(u"adblock-on"_s, [] { SettingEffects::change(SettingsKeys::adBlock.key(), true); });
    commands.on(u"adblock-off"_s, [] { SettingEffects::change(SettingsKeys::adBlock.key(), false); });
    commands.onPrefix(u"appearance:"_s, [](const QString& mode) {
        using AndroidDarkMode::Override;
        AndroidDarkMode::setOverride(mode == u"dark"_s    ? Override::dark
                                     : mode == u"light"_s ? Override::light
                                                          : Override::none);
        inBackground(AndroidDarkMode::apply);
    });
}

// What the panel asks of the application: the open-app flow, backups and the window registry.
class DesktopLauncherActions final : public LauncherActions {
public:
    DesktopLauncherActions(OpenAppFlow& flow, BackupFlow& backups, AppLock& lock)
        : m_flow(flow)
        , m_backups(backups)
        , m_lock(lock) {}

    void launch(const MobileApp& app) override { m_flow.launch(app); }
    void confirmUninstall(const MobileApp& app) override { m_flow.confirmUninstall(app); }
    void prewarm() override { m_flow.prewarmAndroid(); }
    void refreshAndroidState() override { m_flow.refreshAndroidState(); }
    void syncInstalledApps() override { m_flow.syncInstalledAndroidApps(); }
    void closeAllApps() override { AndroidWindowRegistry::shared().closeAll(); }
    QStringList windowSizePresets() const override {
        QStringList labels;
        for (const WindowSizePreset& preset : WindowSizePreset::all())
            labels.append(preset.label());
        return labels;
    }
    void applyWindowSize(int index) override {
        const auto& presets = WindowSizePreset::all();
        if (index >= 0 && index < presets.size()) AndroidWindowRegistry::shared().applySize(presets[index]);
    }
    void revealInFileManager(const QString& path) override { ::revealInFileManager(path); }
    void quit() override { quitInOrder(); }
    std::optional<bool> isLocked(const QUuid& id) const override { return AppLock::isLocked(id); }
    void toggleLock(const MobileApp& app) override { m_lock.toggle(app); }
    std::optional<bool> isInTray(const QUuid& id) const override {
        if (!m_tray || !MenuBarExtras::isAvailable()) return std::nullopt;
        return MenuBarExtras::pinnedIDs().contains(id);
    }
    void toggleInTray(const QUuid& id) override {
        if (m_tray) m_tray->togglePinned(id);
    }
    void setTray(MenuBarExtras* tray) { m_tray = tray; }
    bool offersBackups() const override { return true; }
    void backup(const MobileApp& app) override { m_backups.backup(app); }
    void chooseBackupToRestore() override { m_backups.chooseBackupToRestore(); }
    void mediaKey(const QUuid& appID, MediaAction action) override {
        AndroidWindowRegistry::shared().sendMediaKey(appID, action);
    }

private:
    OpenAppFlow& m_flow;
    BackupFlow& m_backups;
    AppLock& m_lock;
    MenuBarExtras* m_tray = nullptr;
};

// The tray items, the global keys and their commands: "pin:" + app name toggles the app's tray
// item, "shortcut:" + 1…9 fires that app shortcut and "shortcut:space" the Alt+Space key.
struct DesktopShell {
    DesktopShell(VantleApp& vantle, DesktopLauncherActions& actions, AppLock& lock)
        : windows([&lock](const QUuid& id) { lock.show(id); })
        , keys(GlobalHotKeys::create())
        , shortcuts(*keys, vantle.store(), actions, windows)
        , hotKey(*keys, shortcuts, windows)
        , tray(vantle.store(), actions, windows, AppIconStore::shared()) {
        actions.setTray(&tray);
        vantle.commands().onPrefix(u"pin:"_s, [this, &vantle](const QString& name) {
            if (const auto app = vantle.entryMatching(name))
                tray.togglePinned(app->id);
            else
                VantleLog::main().write(u"pin: no library entry matches "_s + VantleLog::escaped(name));
        });
        vantle.commands().onPrefix(u"shortcut:"_s, [this](const QString& key) {
            bool ok = false;
            const int number = key.toInt(&ok);
            if (key == u"space"_s)
                hotKey.dispatch(VantleHotKey::hotKeyID);
            else if (ok && number >= 1 && number <= 9)
                hotKey.dispatch(AppShortcuts::firstID + number - 1);
        });
    }

    RegistryAppWindows windows;
    std::unique_ptr<GlobalHotKeys> keys;
    AppShortcuts shortcuts;
    VantleHotKey hotKey;
    MenuBarExtras tray;
};

// --- Settings: what the settings pages ask of the application.
class DesktopSettingsActions final : public SettingsActions {
public:
    DesktopSettingsActions(VantleApp& vantle, OpenAppFlow& flow, AppUpdates& updates,
                           Uninstaller& uninstaller, DesktopShell& shell)
        : m_vantle(vantle)
        , m_flow(flow)
        , m_updates(updates)
        , m_uninstaller(uninstaller)
        , m_shell(shell) {
        // "check-updates" is the page's "Check now".
        vantle.commands().on(u"check-updates"_s, [this] { checkUpdatesNow(); });
    }

    void switchAndroidVersion(int api) override { m_flow.switchAndroidVersion(api); }
    void deleteAndroidVersion(int api) override { m_flow.deleteAndroidVersion(api); }
    void checkUpdatesNow() override { m_updates.checkIfDue(m_vantle.store(), AppUpdates::Trigger::forced); }
    void composeBugReport() override { BugReport::compose(); }
    void uninstallVantle() override { m_uninstaller.confirmAndRun(); }
    QString shortcutsUnavailableReason() const override { return m_shell.hotKey.unavailableReason(); }

private:
    VantleApp& m_vantle;
    OpenAppFlow& m_flow;
    AppUpdates& m_updates;
    Uninstaller& m_uninstaller;
    DesktopShell& m_shell;
};
// --- end of settings

void registerVersionCommand(CommandRouter& commands, OpenAppFlow& flow) {
    commands.onPrefix(u"android-version:"_s, [&flow](const QString& level) {
        bool ok = false;
        const int api = level.toInt(&ok);
        if (ok) flow.switchAndroidVersion(api);
    });
}

BackupFlow::Seams backupSeams(OpenAppFlow& flow, Notifier& notifier) {
    BackupFlow::Seams seams;
    seams.closeWindow = [](const QUuid& appID, const QString& reason) {
        if (AndroidWindowSession* session = AndroidWindowRegistry::shared().session(appID))
            session->close(reason);
    };
    seams.syncInstalledApps = [&flow] { flow.syncInstalledAndroidApps(); };
    seams.notify = [&notifier](const QString& title, const QString& subtitle, const QString& body,
                               const QString& file) {
        notifier.post(title, subtitle, body, std::nullopt, file);
    };
    seams.reveal = revealInFileManager;
    seams.chooseFile = [](const QString& title, const QString& folder) -> std::optional<QString> {
        QDir().mkpath(folder);
        const QString path = QFileDialog::getOpenFileName(nullptr, title, folder);
        return path.isEmpty() ? std::nullopt : std::optional(path);
    };
    return seams;
}

void registerBackupCommands(VantleApp& vantle, BackupFlow& backups) {
    vantle.commands().onPrefix(u"backup:"_s, [&vantle, &backups](const QString& name) {
        if (auto app = vantle.entryMatching(name))
            backups.backup(*app);
        else
            VantleLog::main().write(u"backup: no library entry matches "_s + VantleLog::escaped(name));
    });
    vantle.commands().onPrefix(u"restore:"_s, [&backups](const QString& path) {
        if (QDir::isAbsolutePath(path))
            backups.restoreBackup(path);
        else
            VantleLog::main().write(u"restore: not a full path: "_s + VantleLog::escaped(path));
    });
}

// The registry places the home panel where an app window was; the panel lives above it.
void connectHomePanel(HomePanelController& home) {
    MenuPanel* panel = &home.makePanel();
    const bool floating =
        HomePanelController::availablePresentation() == HomePanelController::Presentation::floating;
    AndroidWindowRegistry::shared().setHomePanel(
        {[&home, panel](QRectF frame) {
             home.showPanel();
             panel->setGeometry(frame.toRect());
             panel->raise();
             panel->activateWindow();
         },
         [panel]() -> std::optional<QRectF> {
             if (!panel->isVisible()) return std::nullopt;
             return QRectF(panel->frameGeometry());
         },
         // As an ordinary window (no tray) the panel is the app's main window and stays.
         [panel, floating] {
             if (floating) panel->hide();
         }});
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"Vantle"_s);
    // The installed desktop entry and icon carry this id; the desktop matches windows to them.
    QGuiApplication::setDesktopFileName(u"app.vantle.Vantle"_s);
    QApplication::setWindowIcon(QIcon::fromTheme(u"app.vantle.Vantle"_s));
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals();

    // One Vantle per user, decided by the lock it holds for its whole life: a second start shows the
    // running one's panel and ends.
    const InstanceLock instance = InstanceLock::acquire();
    if (!instance.isHeld()) {
        if (!instance.holderPid()) {
            std::fprintf(stderr, "Vantle cannot start: %s\n", qPrintable(instance.error()));
            return 1;
        }
        if (sendCommand(u"home"_s) == CommandDelivery::delivered) {
            std::puts("Vantle is already running; its panel is shown.");
            return 0;
        }
        std::printf("Vantle is already running (pid %lld) but does not answer.\n",
                    static_cast<long long>(*instance.holderPid()));
        return 1;
    }

    const std::shared_ptr<SettingsStore> settings = openUserSettings();
    VantleSettings::install(settings);
    VantleLog::main().write(u"vantle starting pid="_s + QString::number(QApplication::applicationPid()));
    if (const QString problem = settings->problem(); !problem.isEmpty())
        VantleLog::main().write(u"settings: "_s + problem);

    installDeviceSettingsBootHooks();
    std::optional<QCoro::Task<int>> launchTask; // "--launch-apk", kept until it finishes
    std::unique_ptr<OpenAppFlow> flow;          // made right after the store, before any step runs
    std::unique_ptr<BackupFlow> backups;        // likewise
    HomePanelController* homePanel = nullptr;   // made after the store; snapshots come later
    DesktopShell* shell = nullptr;              // likewise; attached and registered by the steps
    VantleApp::Steps steps;
    steps.launchApk = [&launchTask](const QString& apk) { launchTask.emplace(launchApkAndReport(apk)); };
    steps.refreshAndroidState = [&flow] { flow->refreshAndroidState(); };
    steps.launch = [&flow](const MobileApp& app) { flow->launch(app); };
    steps.closeAllWindows = [] { AndroidWindowRegistry::shared().closeAll(); };
    steps.stopAndroid = [](const QString& reason) {
        AndroidWindowRegistry::shared().stopAndroid(reason, true);
    };
    steps.endLeftoverDisplayServers = endLeftoverHostDisplayServers;
    steps.prepareRunningAndroid = &AndroidRuntimeCLI::prepareRunningDevice;
    steps.scheduleIdleShutdown = [] {
        AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
        if (registry.sessions().isEmpty()) registry.scheduleIdleShutdown();
    };
    steps.writeSnapshots = [&homePanel] {
        const QString problem = homePanel ? homePanel->writeSnapshots(Locations::logs()) : u"no panel yet"_s;
        VantleLog::main().write(problem.isEmpty() ? u"snapshots written to "_s + Locations::logs()
                                                  : u"snapshots not written: "_s + problem);
    };
    steps.attachIntegrations = [&application, &shell] {
        AndroidDarkMode::startObserving(&application);
        shell->tray.attach();
        shell->shortcuts.registerKeys();
    };
    steps.registerHotKeyAndLoginItem = [&shell] {
        shell->hotKey.registerKey();
        LoginItem::enableByDefaultOnce();
    };
    AppLibraryStore::Seams seams;
    seams.readApk = &ApkFile::read;
    seams.restoreBackup = [&backups](const QString& path) { backups->restoreBackup(path); };
    VantleApp vantle(LaunchArguments::parse(QApplication::arguments()), seams, steps);
    // Desktop notifications: saved downloads, backups and restores.
    MacNotifier notifier(DesktopNotifications::create());
    PasswordPrompt passwordPrompt;
    AppLock appLock(passwordPrompt);
    Uninstaller uninstaller;
    AppUpdates updates;
    OpenAppFlow::Seams flowSeams;
    flowSeams.unlock = [&appLock](const MobileApp& app, std::function<void()> then) {
        appLock.unlockIfNeeded(app, std::move(then));
    };
    flowSeams.checkUpdatesWhenDue = [&updates, &vantle] {
        updates.checkIfDue(vantle.store(), AppUpdates::Trigger::automatic);
    };
    flow = std::make_unique<OpenAppFlow>(vantle.store(), flowSeams);
    backups = std::make_unique<BackupFlow>(vantle.store(), backupSeams(*flow, notifier));
    registerBackupCommands(vantle, *backups);
    registerDataCareCommands(
        vantle.commands(), [&vantle](const QString& text) { return vantle.entryMatching(text); }, appLock,
        uninstaller);
    registerDeviceSettingCommands(vantle.commands());
    registerWindowCommands(vantle.commands());
    registerVersionCommand(vantle.commands(), *flow);
    AndroidWindowRegistry::shared().iconFor = [&vantle](const QUuid& id) {
        const std::optional<MobileApp> app = vantle.store().app(id);
        const std::optional<QImage> image = app ? AppIconStore::shared().image(*app) : std::nullopt;
        return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
    };

    // Files in and out. The seen set is shared with drops still running on the Android pool, hence
    // shared ownership.
    const auto seenDownloads = std::make_shared<SeenDownloads>();
    DownloadSync downloads(*seenDownloads, notifier);
    downloads.onSaved = [](const QString& title, const QString& text) {
        for (AndroidWindowSession* session : AndroidWindowRegistry::shared().sessions())
            session->showInfo(title, text);
    };
    // Notifications of hidden windows go to the desktop.
    AndroidWindowRegistry::shared().notifier = &notifier;
    AndroidWindowRegistry::shared().sendFiles =
        [seenDownloads](const QStringList& paths, const QString& package, std::optional<int> displayID) {
            return AndroidFileTransfer::push(paths, package, displayID, *seenDownloads);
        };
    EventCenter::shared().observe(VantleEvent::sessionsChanged, &downloads, [&downloads](const QVariantMap&) {
        if (AndroidWindowRegistry::shared().sessions().isEmpty())
            downloads.stop();
        else
            downloads.start();
    });

    // The now-playing app on the desktop's media controls (MPRIS), while there is one.
    NowPlayingPublisher nowPlaying(AndroidWindowRegistry::shared(), NowPlayingService::create());

    DesktopLauncherActions launcherActions(*flow, *backups, appLock);
    DesktopShell desktopShell(vantle, launcherActions, appLock);
    shell = &desktopShell;
    DesktopSettingsActions settingsActions(vantle, *flow, updates, uninstaller, desktopShell);
    MenuPanel::Environment panelEnvironment;
    panelEnvironment.updates = &updates;
    panelEnvironment.settings = &settingsActions;
    HomePanelController home(vantle.store(), launcherActions, panelEnvironment);
    homePanel = &home;
    MenuPanel& panel = home.makePanel();
    connectHomePanel(home);
    vantle.commands().on(u"home"_s, [&home] { home.showPanel(); });
    EventCenter::shared().observe(VantleEvent::showSettingsPage, &panel,
                                  [&home](const QVariantMap&) { home.showPanel(); });

    // The mirror mode's player window follows the library's flag ("--android-player" sets it);
    // quitting ends the external-window mode's clients with Vantle.
    AndroidPlayerWindow androidPlayer(vantle.store(), [&home] { home.showPanel(); });
    if (LaunchArguments::parse(QApplication::arguments()).androidPlayer)
        vantle.store().setShowAndroidPlayer(true);
    QObject::connect(&application, &QApplication::aboutToQuit, &androidPlayer,
                     [] { AndroidSessionRegistry::shared().endAll(); });

    QObject::connect(&application, &QApplication::aboutToQuit, &vantle, [&vantle] {
        VantleLog::main().write(u"vantle quitting"_s);
        vantle.quit();
    });
    vantle.start();

    // Without a system tray the panel is an ordinary window, and closing it quits.
    if (HomePanelController::availablePresentation() == HomePanelController::Presentation::window)
        QApplication::setQuitOnLastWindowClosed(true);
    home.start();
    return QApplication::exec();
}
