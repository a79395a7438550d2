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
#include "ui/LibraryPanel.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QtConcurrent>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

QIcon trayGlyph() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2e, 0x7d, 0x32));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 14, 14);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(40);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, u"V"_s);
    return QIcon(pixmap);
}

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

void showPanel(QWidget& panel) {
    panel.show();
    panel.raise();
    panel.activateWindow();
}

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

    LibraryPanel panel(vantle.store());
    vantle.commands().on(u"home"_s, [&panel] { showPanel(panel); });
    EventCenter::shared().observe(VantleEvent::showSettingsPage, &panel, [&panel](const QVariantMap&) { showPanel(panel); });

    QSystemTrayIcon tray(trayGlyph());
    QMenu trayMenu;
    trayMenu.addAction(u"Show Vantle"_s, &panel, [&panel] { showPanel(panel); });
    trayMenu.addSeparator();
    trayMenu.addAction(u"Quit Vantle"_s, &application, &QApplication::quit);
    tray.setContextMenu(&trayMenu);
    tray.setToolTip(u"Vantle"_s);
    QObject::connect(&tray, &QSystemTrayIcon::activated, &panel, [&panel](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) showPanel(panel);
    });

    QObject::connect(&application, &QApplication::aboutToQuit, &vantle, [&vantle] {
        VantleLog::main().write(u"vantle quitting"_s);
        vantle.quit();
    });
    vantle.start();

    // Without a system tray the panel is an ordinary window, and closing it quits.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray.show();
    } else {
        QApplication::setQuitOnLastWindowClosed(true);
        showPanel(panel);
    }
    return QApplication::exec();
}
