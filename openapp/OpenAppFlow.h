#pragma once

#include "core/AppLibraryStore.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QObject>
#include <QSizeF>
#include <functional>

// What happens between a click on an app and its running window, and the Android state the user
// interface shows: the library store's operations that need Android and the app windows, which
// live above the store. One instance, created at start-up; GUI thread only. Slow work (device
// probes, installs, discovery, uninstalls) runs on the Android thread pool.
class OpenAppFlow final : public QObject {
    Q_OBJECT
public:
    // A message with buttons that shows without blocking. `chosen` receives the index of the
    // action pressed; dismissing it calls nothing.
    struct Offer {
        QString message;
        QString informative;
        QStringList actions;
        QString dismiss;
    };

    struct Seams {
        // A modal yes/no confirmation; the default is a message box.
        std::function<bool(const QString& message, const QString& informative, const QString& confirm)>
            confirm;
        // The default is a message box that leaves the event loop running.
        std::function<void(const Offer& offer, std::function<void(int chosen)> chosen)> offer;
        // The APK file the user points at for an entry whose file went missing; the default is a
        // file chooser.
        std::function<std::optional<QString>(const MobileApp& app)> locateApk;
        // The app lock: runs `then` at once for an app that needs no unlock, else only after the
        // owner's authentication. The default runs it at once.
        std::function<void(const MobileApp& app, std::function<void()> then)> unlock;
        // After an app window opened: an update check if one is due (none by default).
        std::function<void()> checkUpdatesWhenDue;
    };

    // The external client's window, in points: the portrait player size.
    static constexpr QSizeF externalWindowSize{430, 760};

    explicit OpenAppFlow(AppLibraryStore& store, Seams seams = {}, QObject* parent = nullptr);

    void launch(const MobileApp& app);
    void launchAndroid(const MobileApp& app);
    void refreshAndroidState();
    void prewarmAndroid();
    void syncInstalledAndroidApps();
    void switchAndroidVersion(int api);
    void deleteAndroidVersion(int api);
    void confirmUninstall(const MobileApp& app);

    bool isPrewarming() const { return m_prewarming; }
    bool isSyncing() const { return m_syncing; }

private:
    QCoro::Task<> openWindow(MobileApp app, QElapsedTimer sinceOpen);
    // "VantleUseExternalWindow": a scrcpy client shows the app in a window of its own.
    void openExternalWindow(const MobileApp& app, const QString& package, const QElapsedTimer& sinceOpen,
                            std::function<void(std::optional<QString>)> ended);
    QCoro::Task<QString> installedPackage(MobileApp app);
    void openFailed(const MobileApp& app, const QString& description);
    void offerToReopen(const MobileApp& app, const QString& reason);
    void offerToFindApk(const MobileApp& app, const QString& missing);
    void relocate(MobileApp app);
    // "kept": a boot under way owns "starting". "released": a failed open or warm-up ended the boot
    // that set it, so unless another one still runs the device is asked again (the state never
    // stays "starting" for good).
    enum class Starting { kept, released };
    void refresh(Starting starting);
    QCoro::Task<> readAndroidState(Starting starting);
    bool bootInProgress() const;
    void warnAboutVirtualisation();
    QCoro::Task<> warmUp();
    QCoro::Task<> sync();
    QCoro::Task<> uninstall(MobileApp app, QString package);

    AppLibraryStore& m_store;
    Seams m_seams;
    bool m_prewarming = false;
    bool m_syncing = false;
};
