// vantle: the desktop application (tray icon and panel).
#include "apk/APKIconExtractor.h"
#include "app/LaunchApk.h"
#include "core/SettingsKeys.h"
#include "core/VantleApp.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "integrations/DeviceSettings.h"
#include "platform/CommandChannel.h"
#include "platform/TerminationSignals.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "ui/HomePanelController.h"
#include "ui/LauncherActions.h"
#include "windows/VantleLayout.h"
#include "windows/WindowSizePreset.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QtConcurrent>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

// Runs blocking device work on the Android pool; its result is not needed.
void inBackground(void (*work)()) { (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), work); }

// Android's state for the panel: not set up, or booted (ready) or not (sleeping).
void refreshAndroidState(AppLibraryStore& store) {
    if (!AndroidRuntimePaths::current().isComplete()) {
        store.setAndroidState(AndroidState::notSetUp);
        return;
    }
    QtConcurrent::run(&AndroidRuntimeCLI::pool(), AndroidRuntimeCLI::deviceIsBooted).then(&store, [&store](bool booted) {
        if (store.androidState() != AndroidState::starting)
            store.setAndroidState(booted ? AndroidState::ready : AndroidState::sleeping);
    });
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

// What the panel asks of the application, with what exists today: opening installs and starts
// the app inside Android without a window of its own; the warm-up boots Android.
class DesktopLauncherActions final : public LauncherActions {
public:
    explicit DesktopLauncherActions(AppLibraryStore& store)
        : m_store(store) {}

    void launch(const MobileApp& app) override {
        if (m_store.launchingAppID()) return; // one open request at a time
        m_store.setStatusMessage(u"Starting "_s + app.name + u"…"_s);
        m_store.setLaunchingAppID(app.id);
        if (m_store.androidState() != AndroidState::ready) m_store.setAndroidState(AndroidState::starting);
        VantleLog::main().write(u"open requested app="_s + app.name);
        openInAndroid(app);
    }
    void confirmUninstall(const MobileApp& app) override {
        QMessageBox box(QMessageBox::Warning, u"Vantle"_s, u"Uninstall "_s + app.displayName() + u"?"_s);
        box.setInformativeText(u"The app and its data are removed from Vantle's Android."_s);
        QPushButton* uninstall = box.addButton(u"Uninstall"_s, QMessageBox::DestructiveRole);
        box.addButton(QMessageBox::Cancel);
        box.exec();
        if (box.clickedButton() == uninstall) m_store.setStatusMessage(u"Uninstalling is not available yet"_s);
    }
    void prewarm() override {
        if (!VantleSettings::get(SettingsKeys::prewarm) || m_prewarming || m_store.launchingAppID() ||
            !AndroidRuntimePaths::current().isComplete() || m_store.androidState() == AndroidState::ready)
            return;
        warmUp();
    }
    void refreshAndroidState() override { ::refreshAndroidState(m_store); }
    void syncInstalledApps() override {}
    void closeAllApps() override {} // no app windows exist yet
    QStringList windowSizePresets() const override {
        QStringList labels;
        for (const WindowSizePreset& preset : WindowSizePreset::all()) labels.append(preset.label());
        return labels;
    }
    void applyWindowSize(int index) override {
        const auto& presets = WindowSizePreset::all();
        if (index < 0 || index >= presets.size()) return;
        VantleLayout::setSize(QSizeF(presets[index].width, presets[index].height));
        m_store.setStatusMessage(u"New windows open at "_s + presets[index].label());
    }
    void revealInFileManager(const QString& path) override {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    }
    void quit() override { QApplication::quit(); }

private:
    QCoro::Task<> openInAndroid(MobileApp app) {
        try {
            co_await AndroidRuntimeCLI::installAndLaunch(app.sourcePath);
            m_store.setStatusMessage(u"Opened "_s + app.name);
            m_store.setAndroidState(AndroidState::ready);
        } catch (const AndroidRuntimeError& error) {
            ::refreshAndroidState(m_store);
            VantleLog::main().write(u"open failed app="_s + app.name + u" error="_s + error.description());
            m_store.setStatusMessage(u"Android launch failed: "_s + error.description());
        }
        if (m_store.launchingAppID() == app.id) m_store.setLaunchingAppID(std::nullopt);
    }
    QCoro::Task<> warmUp() {
        m_prewarming = true;
        m_store.setAndroidState(AndroidState::starting);
        VantleLog::main().write(u"warm-up: starting Android in the background"_s);
        try {
            co_await AndroidRuntimeCLI::ensureRuntime();
            m_store.setAndroidState(AndroidState::ready);
        } catch (const AndroidRuntimeError& error) {
            VantleLog::main().write(u"warm-up failed: "_s + error.description());
            ::refreshAndroidState(m_store);
        }
        m_prewarming = false;
    }

    AppLibraryStore& m_store;
    bool m_prewarming = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"Vantle"_s);
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals();

    // One Vantle per user: a second start shows the running one's panel and ends.
    if (sendCommand(u"home"_s, 500) == CommandDelivery::delivered) {
        std::puts("Vantle is already running; its panel is shown.");
        return 0;
    }

    const SettingsOpening settings = openUserSettings();
    VantleSettings::install(settings.store);
    VantleLog::main().write(u"vantle starting pid="_s + QString::number(QApplication::applicationPid()));
    if (!settings.problem.isEmpty()) VantleLog::main().write(u"settings: "_s + settings.problem);

    installDeviceSettingsBootHooks();
    std::optional<QCoro::Task<int>> launchTask; // "--launch-apk", kept until it finishes
    AppLibraryStore* store = nullptr;
    VantleApp::Steps steps;
    steps.launchApk = [&launchTask](const QString& apk) { launchTask.emplace(launchApkAndReport(apk)); };
    steps.refreshAndroidState = [&store] { refreshAndroidState(*store); };
    steps.endLeftoverDisplayServers = endLeftoverHostDisplayServers;
    steps.attachIntegrations = [&application] { AndroidDarkMode::startObserving(&application); };
    AppLibraryStore::Seams seams;
    seams.readLabel = &APKIconExtractor::label;
    VantleApp vantle(LaunchArguments::parse(QApplication::arguments()), seams, steps);
    store = &vantle.store();
    registerDeviceSettingCommands(vantle.commands());

    DesktopLauncherActions launcherActions(vantle.store());
    HomePanelController home(vantle.store(), launcherActions);
    MenuPanel& panel = home.makePanel();
    vantle.commands().on(u"home"_s, [&home] { home.showPanel(); });
    EventCenter::shared().observe(VantleEvent::showSettingsPage, &panel, [&home](const QVariantMap&) { home.showPanel(); });

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
