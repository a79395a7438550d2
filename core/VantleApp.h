#pragma once

#include "core/AppLibraryStore.h"
#include "core/CommandRouter.h"
#include "core/LaunchArguments.h"
#include "platform/CommandChannel.h"

#include <QFuture>
#include <QObject>

#include <functional>
#include <memory>

// Start-up and quitting. Owns the one library store and the command channel; the steps of parts
// built on top of the core plug in through `Steps` (an empty step is skipped).
class VantleApp final : public QObject {
    Q_OBJECT
public:
    struct Steps {
        std::function<void(const QString& apkPath)> launchApk;      // "--launch-apk", started at once
        std::function<void()> refreshAndroidState;                  // Android's state for the panel
        std::function<void()> endLeftoverDisplayServers;            // display servers of an earlier run
        std::function<QFuture<bool>()> prepareRunningAndroid;       // standard state of an Android left up;
                                                                    // true when Android was up
        std::function<void()> scheduleIdleShutdown;                 // when no app window is open
        std::function<void()> writeSnapshots;                       // user-interface snapshot images
        std::function<void()> attachIntegrations;                   // notifications, dark mode, menu bar
        std::function<void()> registerHotKeyAndLoginItem;
        std::function<void(const MobileApp& app)> launch;           // opens a library entry
        std::function<void()> closeAllWindows;                      // quitting
        std::function<void(const QString& reason)> stopAndroid;     // quitting, waits for the stop
    };

    VantleApp(LaunchArguments arguments, AppLibraryStore::Seams seams, Steps steps, QObject* parent = nullptr);
    ~VantleApp() override;

    // Runs the start-up steps in order. Returns false when the command channel could not be
    // registered (another process answers on its socket); the app still works, without the channel.
    bool start();
    // Closes all windows and, unless "VantleStopAndroidOnQuit" is false, stops Android.
    void quit();

    AppLibraryStore& store() { return m_store; }
    CommandRouter& commands() { return m_commands; }

    // The first entry whose name or file path contains `text` (case-insensitive).
    std::optional<MobileApp> entryMatching(const QString& text) const;
    // Opens the entry with this id (the "Vantle.openAppRequest" event); unknown ids are ignored.
    void openRequested(const QVariantMap& userInfo);

private:
    void registerCommands();
    void launch(const MobileApp& app);

    LaunchArguments m_arguments;
    Steps m_steps;
    AppLibraryStore m_store;
    CommandRouter m_commands;
    std::unique_ptr<CommandListener> m_listener;
};

// Ends the display servers that an earlier run of this Vantle started and left running (it was
// killed), as recorded in the display-server ledger; never any other process on the computer.
void endLeftoverHostDisplayServers();
