// vantle: the desktop application (tray icon and panel).
#include "apk/ApkFile.h"
#include "apk/AppIconStore.h"
#include "app/LaunchApk.h"
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "integrations/DeviceSettings.h"
#include "openapp/OpenAppFlow.h"
#include "platform/CommandChannel.h"
#include "platform/InstanceLock.h"
#include "platform/Locations.h"
#include "platform/TerminationSignals.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"
#include "ui/HomePanelController.h"
#include "ui/LauncherActions.h"
#include "updates/AppUpdates.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/WindowCommands.h"
#include "windows/WindowSizePreset.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
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
    const auto setAdBlock = [](bool on) {
        VantleSettings::set(SettingsKeys::adBlock, on);
        inBackground(AndroidAdBlock::apply);
    };
    commands.on(u"adblock-on"_s, [setAdBlock] { setAdBlock(true); });
    commands.on(u"adblock-off"_s, [setAdBlock] { setAdBlock(false); });
    commands.onPrefix(u"appearance:"_s, [](const QString& mode) {
        using AndroidDarkMode::Override;
        AndroidDarkMode::setOverride(mode == u"dark"_s    ? Override::dark
                                     : mode == u"light"_s ? Override::light
                                                          : Override::none);
        inBackground(AndroidDarkMode::apply);
    });
}

// What the panel asks of the application: the open-app flow and the window registry.
class DesktopLauncherActions final : public LauncherActions {
public:
    explicit DesktopLauncherActions(OpenAppFlow& flow)
        : m_flow(flow) {}

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
    void revealInFileManager(const QString& path) override {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    }
    void quit() override { quitInOrder(); }

private:
    OpenAppFlow& m_flow;
};

void registerVersionCommand(CommandRouter& commands, OpenAppFlow& flow) {
    commands.onPrefix(u"android-version:"_s, [&flow](const QString& level) {
        bool ok = false;
        const int api = level.toInt(&ok);
        if (ok) flow.switchAndroidVersion(api);
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
    HomePanelController* homePanel = nullptr;   // made after the store; snapshots come later
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
    steps.attachIntegrations = [&application] { AndroidDarkMode::startObserving(&application); };
    AppLibraryStore::Seams seams;
    seams.readApk = &ApkFile::read;
    VantleApp vantle(LaunchArguments::parse(QApplication::arguments()), seams, steps);
    AppUpdates updates;
    OpenAppFlow::Seams flowSeams;
    flowSeams.checkUpdatesWhenDue = [&updates, &vantle] {
        updates.checkIfDue(vantle.store(), AppUpdates::Trigger::automatic);
    };
    flow = std::make_unique<OpenAppFlow>(vantle.store(), flowSeams);
    vantle.commands().on(u"check-updates"_s, [&updates, &vantle] {
        updates.checkIfDue(vantle.store(), AppUpdates::Trigger::forced);
    });
    registerDeviceSettingCommands(vantle.commands());
    registerWindowCommands(vantle.commands());
    registerVersionCommand(vantle.commands(), *flow);
    AndroidWindowRegistry::shared().iconFor = [&vantle](const QUuid& id) {
        const std::optional<MobileApp> app = vantle.store().app(id);
        const std::optional<QImage> image = app ? AppIconStore::shared().image(*app) : std::nullopt;
        return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
    };

    DesktopLauncherActions launcherActions(*flow);
    MenuPanel::Environment panelEnvironment;
    panelEnvironment.updates = &updates;
    HomePanelController home(vantle.store(), launcherActions, panelEnvironment);
    homePanel = &home;
    MenuPanel& panel = home.makePanel();
    connectHomePanel(home);
    vantle.commands().on(u"home"_s, [&home] { home.showPanel(); });
    EventCenter::shared().observe(VantleEvent::showSettingsPage, &panel,
                                  [&home](const QVariantMap&) { home.showPanel(); });

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
