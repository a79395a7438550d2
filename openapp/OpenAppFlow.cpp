#include "openapp/OpenAppFlow.h"

#include "apk/AppIconStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleError.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "external/AndroidSessionRegistry.h"
#include "integrations/DeviceSettings.h"
#include "platform/Virtualisation.h"
#include "provisioning/AndroidBridgeComponents.h"
#include "provisioning/AndroidRuntimeProvisioner.h"
#include "provisioning/AndroidVersions.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/AndroidRuntimeError.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {

void offerInMessageBox(const OpenAppFlow::Offer& offer, std::function<void(int chosen)> chosen) {
    auto* box = new QMessageBox(QMessageBox::Warning, u"Vantle"_s, offer.message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(offer.informative);
    QList<QAbstractButton*> actions;
    for (const QString& action : offer.actions)
        actions.append(box->addButton(action, QMessageBox::AcceptRole));
    box->setEscapeButton(box->addButton(offer.dismiss, QMessageBox::RejectRole));
    box->setDefaultButton(qobject_cast<QPushButton*>(actions.value(0)));
    QObject::connect(box, &QMessageBox::buttonClicked, box, [actions, chosen](QAbstractButton* button) {
        if (const qsizetype index = actions.indexOf(button); index >= 0) chosen(int(index));
    });
    box->open();
}

std::optional<QString> locateInFileDialog(const MobileApp& app) {
    const QString path =
        QFileDialog::getOpenFileName(nullptr, u"Locate "_s + app.name,
                                     QFileInfo(app.sourcePath).absolutePath(), u"Android apps (*.apk)"_s);
    return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
}

bool askInMessageBox(const QString& message, const QString& informative, const QString& confirm) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(message);
    box.setInformativeText(informative);
    QPushButton* yes = box.addButton(confirm, QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
}

int discoveredAPI(const QString& package) {
    return int(VantleSettings::readInteger(SettingsKeys::discoveredAPI.key(package)).value_or(35));
}

} // namespace

OpenAppFlow::OpenAppFlow(AppLibraryStore& store, Seams seams, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_seams(std::move(seams)) {
    if (!m_seams.confirm) m_seams.confirm = askInMessageBox;
    if (!m_seams.offer) m_seams.offer = offerInMessageBox;
    if (!m_seams.locateApk) m_seams.locateApk = locateInFileDialog;
    if (!m_seams.unlock) m_seams.unlock = [](const MobileApp&, std::function<void()> then) { then(); };
    EventCenter::shared().observe(VantleEvent::sessionsChanged, this, [this](const QVariantMap&) {
        QSet<QUuid> running;
        for (const AndroidWindowSession* session : AndroidWindowRegistry::shared().sessions())
            running.insert(session->appID());
        m_store.setRunningAppIDs(running);
        syncInstalledAndroidApps();
    });
    // The registry owns the unread marks; the store publishes them for the tiles' and menu items' badges.
    EventCenter::shared().observe(VantleEvent::unreadChanged, this, [this](const QVariantMap&) {
        m_store.setUnreadAppIDs(AndroidWindowRegistry::shared().unreadAppIDs());
    });
    EventCenter::shared().observe(VantleEvent::mediaChanged, this, [this](const QVariantMap&) {
        const auto& record = AndroidWindowRegistry::shared().nowPlaying();
        m_store.setNowPlaying(record ? std::optional(record->media) : std::nullopt,
                              record ? std::optional(record->appID) : std::nullopt);
    });
}

void OpenAppFlow::launch(const MobileApp& app) {
    if (app.platform == MobilePlatform::ios) {
        m_store.setStatusMessage(u"iOS apps are not supported"_s);
        return;
    }
    const QPointer<OpenAppFlow> alive(this);
    m_seams.unlock(app, [this, alive, app] {
        if (alive) launchAndroid(app);
    });
}

void OpenAppFlow::launchAndroid(const MobileApp& app) {
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    registry.cancelIdleShutdown();
    if (registry.bringForward(app.id)) {
        m_store.setStatusMessage(app.name + u" is open"_s);
        return;
    }
    // The external client's window belongs to another program, which raises it itself.
    if (AndroidSessionRegistry::shared().runningSession(app.id)) {
        m_store.setStatusMessage(app.name + u" is already open"_s);
        return;
    }
    m_store.setStatusMessage(u"Starting "_s + app.name + u"…"_s);
    m_store.setLaunchingAppID(app.id);
    if (m_store.androidState() != AndroidState::ready) {
        m_store.setAndroidState(AndroidState::starting);
        warnAboutVirtualisation();
    }
    VantleLog::main().write(u"open requested app="_s + VantleLog::escaped(app.name));
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    openWindow(app, sinceOpen);
}

QCoro::Task<> OpenAppFlow::openWindow(MobileApp app, QElapsedTimer sinceOpen) {
    const QPointer<OpenAppFlow> alive(this); // a task may outlive the flow
    try {
        QString package;
        if (QFileInfo::exists(app.sourcePath)) {
            QCoro::Task<QString> installing = AndroidRuntimeCLI::installAndLaunch(app.sourcePath);
            package = co_await std::move(installing);
        } else {
            // The file went away after it was added; an app still installed in Android opens anyway.
            QCoro::Task<QString> finding = installedPackage(app);
            package = co_await std::move(finding);
            if (!alive) co_return;
            if (package.isEmpty()) {
                const QString missing =
                    u"The APK file of "_s + app.name + u" is missing ("_s + app.sourcePath + u')';
                openFailed(app, missing);
                m_store.setStatusMessage(missing);
                offerToFindApk(app, missing);
                co_return;
            }
            VantleLog::main().write(u"open: APK missing, opening the installed "_s + package);
        }
        if (!alive) co_return;
        const auto ended = [this, alive, app](std::optional<QString> reason) {
            if (!alive) return;
            m_store.setStatusMessage(reason ? app.name + u" stopped: "_s + *reason : u"Closed "_s + app.name);
            if (reason) offerToReopen(app, *reason);
        };
        if (VantleSettings::get(SettingsKeys::useExternalWindow)) {
            openExternalWindow(app, package, sinceOpen, ended);
            co_return;
        }
        AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
        // A second click while the install ran may have opened the window already: open() then
        // brings that one forward.
        registry.open(app.id, package, app.name, ended);
        // Only now that this app really opens do the others close: a failed open leaves them be.
        if (AndroidWindowRegistry::singleAppMode()) registry.closeOthers(app.id);
        VantleLog::main().write(u"native window started app="_s + VantleLog::escaped(app.name) +
                                u" sinceOpen="_s +
                                QString::number(double(sinceOpen.elapsed()) / 1000.0, 'f', 2) + u's');
        m_store.setStatusMessage(u"Opened "_s + app.name);
        m_store.setAndroidState(AndroidState::ready);
        if (m_seams.checkUpdatesWhenDue) m_seams.checkUpdatesWhenDue();
        (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), [] { AndroidDarkMode::apply(); });
        if (m_store.launchingAppID() == app.id) m_store.setLaunchingAppID(std::nullopt);
    } catch (const std::exception& error) {
        if (!alive) co_return;
        const QString description = VantleError::describe(error);
        openFailed(app, description);
        m_store.setStatusMessage(u"Android launch failed: "_s + description);
    }
}

void OpenAppFlow::openExternalWindow(const MobileApp& app, const QString& package,
                                     const QElapsedTimer& sinceOpen,
                                     std::function<void(std::optional<QString>)> ended) {
    const AndroidDisplaySession& session = AndroidSessionRegistry::shared().open(
        app.id, package, app.name, QString(AndroidRuntimeCLI::deviceSerial),
        AndroidRuntimePaths::current().adb(), externalWindowSize, std::move(ended));
    VantleLog::main().write(u"bridge spawned app="_s + VantleLog::escaped(app.name) + u" pid="_s +
                            QString::number(session.processID()) + u" sinceOpen="_s +
                            QString::number(double(sinceOpen.elapsed()) / 1000.0, 'f', 2) + u's');
    const bool bundled = session.bridgeSource() == AndroidBridgeComponents::Source::bundled;
    m_store.setStatusMessage(u"Opened "_s + app.name +
                             (bundled ? u" (bundled bridge)"_s : u" (dev bridge)"_s));
    // Android is up: the install before the client needed it.
    m_store.setAndroidState(AndroidState::ready);
    if (m_store.launchingAppID() == app.id) m_store.setLaunchingAppID(std::nullopt);
}

QCoro::Task<QString> OpenAppFlow::installedPackage(MobileApp app) {
    const QString package =
        app.bundleIdentifier.value_or(AndroidRuntimeCLI::knownPackage(app.sourcePath).value_or(QString()));
    if (!AndroidRuntimeCLI::isValidPackageName(package)) co_return QString(); // never installed
    QCoro::Task<> booting = AndroidRuntimeCLI::ensureRuntime();
    co_await std::move(booting);
    QFuture<bool> probe = QtConcurrent::run(&AndroidRuntimeCLI::pool(), [package] {
        const std::optional<QString> paths =
            AndroidRuntimeCLI::runADB({u"shell"_s, u"pm"_s, u"path"_s, package});
        return paths.value_or(QString()).contains(u"package:"_s);
    });
    const bool installed = co_await probe;
    co_return installed ? package : QString();
}

void OpenAppFlow::openFailed(const MobileApp& app, const QString& description) {
    if (m_store.launchingAppID() == app.id) m_store.setLaunchingAppID(std::nullopt);
    refresh(Starting::released);
    VantleLog::main().write(u"open failed app="_s + VantleLog::escaped(app.name) + u" error="_s +
                            VantleLog::escaped(description));
}

void OpenAppFlow::offerToReopen(const MobileApp& app, const QString& reason) {
    const QPointer<OpenAppFlow> alive(this);
    m_seams.offer({app.name + u" stopped"_s, reason, {u"Reopen"_s}, u"OK"_s},
                  [this, alive, id = app.id](int) {
                      // The entry as it is now: it may have been changed or removed meanwhile.
                      if (!alive) return;
                      if (const std::optional<MobileApp> current = m_store.app(id)) launch(*current);
                  });
}

void OpenAppFlow::offerToFindApk(const MobileApp& app, const QString& missing) {
    const QPointer<OpenAppFlow> alive(this);
    m_seams.offer({missing,
                   u"Locate the file, or remove "_s + app.name + u" from Vantle."_s,
                   {u"Locate…"_s, u"Remove from Vantle"_s},
                   u"Cancel"_s},
                  [this, alive, id = app.id](int chosen) {
                      if (!alive) return;
                      const std::optional<MobileApp> current = m_store.app(id);
                      if (!current) return;
                      if (chosen == 0)
                          relocate(*current);
                      else
                          m_store.remove(*current);
                  });
}

void OpenAppFlow::relocate(MobileApp app) {
    const std::optional<QString> found = m_seams.locateApk(app);
    if (!found) return;
    QList<MobileApp> apps = m_store.apps();
    for (MobileApp& entry : apps)
        if (entry.id == app.id) entry.sourcePath = *found;
    m_store.setApps(apps);
    VantleLog::main().write(u"library: "_s + VantleLog::escaped(app.name) + u" located at "_s +
                            VantleLog::escaped(*found));
    app.sourcePath = *found;
    launch(app);
}

// Before a boot. The boot is tried regardless (the simulated emulator needs no virtualisation);
// if the emulator then quits, the boot's error repeats the fix.
void OpenAppFlow::warnAboutVirtualisation() {
    if (const std::optional<QString> problem = Virtualisation::hostProblem())
        m_store.setStatusMessage(*problem);
}

void OpenAppFlow::refreshAndroidState() {
    refresh(Starting::kept);
}

void OpenAppFlow::refresh(Starting starting) {
    if (!AndroidRuntimePaths::current().isComplete()) {
        m_store.setAndroidState(AndroidState::notSetUp);
        return;
    }
    readAndroidState(starting);
}

QCoro::Task<> OpenAppFlow::readAndroidState(Starting starting) {
    const QPointer<OpenAppFlow> alive(this);
    QFuture<bool> probe = QtConcurrent::run(&AndroidRuntimeCLI::pool(), AndroidRuntimeCLI::deviceIsBooted);
    const bool booted = co_await probe;
    if (!alive) co_return;
    // A boot under way owns the state until it ends.
    if (m_store.androidState() == AndroidState::starting && (starting == Starting::kept || bootInProgress()))
        co_return;
    m_store.setAndroidState(booted ? AndroidState::ready : AndroidState::sleeping);
}

bool OpenAppFlow::bootInProgress() const {
    return m_prewarming || m_store.launchingAppID().has_value();
}

void OpenAppFlow::prewarmAndroid() {
    if (!VantleSettings::get(SettingsKeys::prewarm) || m_prewarming || m_store.launchingAppID() ||
        !AndroidRuntimePaths::current().isComplete() || !AndroidWindowRegistry::shared().sessions().isEmpty())
        return;
    m_prewarming = true;
    warmUp();
}

QCoro::Task<> OpenAppFlow::warmUp() {
    const QPointer<OpenAppFlow> alive(this);
    QElapsedTimer started;
    started.start();
    QFuture<bool> probe = QtConcurrent::run(&AndroidRuntimeCLI::pool(), AndroidRuntimeCLI::deviceIsBooted);
    const bool booted = co_await probe;
    if (!alive) co_return;
    if (booted) {
        m_store.setAndroidState(AndroidState::ready);
        m_prewarming = false;
        co_return;
    }
    m_store.setAndroidState(AndroidState::starting);
    warnAboutVirtualisation();
    VantleLog::main().write(u"warm-up: starting Android in the background"_s);
    try {
        QCoro::Task<> booting = AndroidRuntimeCLI::ensureRuntime();
        co_await std::move(booting);
        if (!alive) co_return;
        VantleLog::main().write(u"warm-up: Android ready after "_s +
                                QString::number(double(started.elapsed()) / 1000.0, 'f', 1) + u's');
        m_store.setAndroidState(AndroidState::ready);
        // An unused warm Android stops again after the idle time.
        if (AndroidWindowRegistry::shared().sessions().isEmpty())
            AndroidWindowRegistry::shared().scheduleIdleShutdown();
    } catch (const std::exception& error) {
        if (!alive) co_return;
        VantleLog::main().write(u"warm-up failed: "_s + VantleError::describe(error));
        m_prewarming = false;
        refresh(Starting::released);
    }
    m_prewarming = false;
}

void OpenAppFlow::syncInstalledAndroidApps() {
    if (m_syncing) return;
    m_syncing = true;
    sync();
}

QCoro::Task<> OpenAppFlow::sync() {
    QSet<QString> known;
    for (const MobileApp& app : m_store.apps()) {
        if (app.bundleIdentifier) known.insert(*app.bundleIdentifier);
        if (app.platform == MobilePlatform::android)
            if (const std::optional<QString> package = AndroidRuntimeCLI::knownPackage(app.sourcePath))
                known.insert(*package);
    }
    QFuture<std::optional<AndroidRuntimeCLI::Discovery>> discovery =
        QtConcurrent::run(&AndroidRuntimeCLI::pool(), AndroidRuntimeCLI::discoverInstalledApps, known);
    const QPointer<OpenAppFlow> alive(this);
    const std::optional<AndroidRuntimeCLI::Discovery> result = co_await discovery;
    if (!alive) co_return;
    m_syncing = false;
    if (!result) co_return;

    const int api = AndroidVersions::selected();
    for (const AndroidRuntimeCLI::DiscoveredApp& found : result->apps) {
        const QList<MobileApp>& apps = m_store.apps();
        if (std::any_of(apps.cbegin(), apps.cend(),
                        [&](const MobileApp& app) { return app.bundleIdentifier == found.package; }))
            continue;
        MobileApp app;
        app.id = QUuid::createUuid();
        app.name = found.name;
        app.platform = MobilePlatform::android;
        app.sourcePath = found.apk;
        app.bundleIdentifier = found.package;
        app.addedAt = QDateTime::currentDateTimeUtc();
        QList<MobileApp> updated = apps;
        updated.append(app);
        m_store.setApps(updated);
        VantleSettings::set(SettingsKeys::discoveredAPI.key(found.package), qint64(api));
        m_store.setStatusMessage(u"Added "_s + found.name + u" from Android"_s);
        VantleLog::main().write(u"library: discovered "_s + found.package);
    }

    // Apps discovered under this Android version and uninstalled inside it since. Entries found
    // under another version stay: their apps live in that version's data.
    const QString pulled = AndroidRuntimeCLI::packagesDirectory();
    QList<MobileApp> kept, gone;
    for (const MobileApp& app : m_store.apps()) {
        const QString package = app.bundleIdentifier.value_or(QString());
        const bool uninstalled = app.sourcePath.startsWith(pulled + u'/') && discoveredAPI(package) == api &&
                                 !result->installed.contains(package);
        (uninstalled ? gone : kept).append(app);
    }
    if (gone.isEmpty()) co_return;
    m_store.setApps(kept);
    for (const MobileApp& app : gone) {
        QFile::remove(app.sourcePath);
        VantleLog::main().write(u"library: "_s + VantleLog::escaped(app.bundleIdentifier.value_or(app.name)) +
                                u" was uninstalled in Android"_s);
    }
}

void OpenAppFlow::switchAndroidVersion(int api) {
    const QList<AndroidVersions::Version>& offered = AndroidVersions::all();
    if (std::none_of(offered.cbegin(), offered.cend(),
                     [api](const AndroidVersions::Version& version) { return version.api == api; })) {
        // Refused before anything is touched: the windows, the stored choice and Android stay.
        VantleLog::main().write(u"android version: API "_s + QString::number(api) +
                                u" refused (not offered)"_s);
        m_store.setStatusMessage(
            u"Vantle does not offer Android API "_s + QString::number(api) +
            u" (choose API %1 to %2)"_s.arg(offered.first().api).arg(offered.last().api));
        return;
    }
    if (api == AndroidVersions::selected() && AndroidRuntimePaths::managed(api).isComplete()) return;
    VantleLog::main().write(u"android version: switching to API "_s + QString::number(api));
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    registry.closeAll();
    VantleSettings::set(SettingsKeys::androidAPI, qint64(api));
    AndroidRuntimeProvisioner::shared().reset();
    registry.stopAndroid(u"Android version changed"_s, false);
    if (AndroidRuntimePaths::current().isComplete()) {
        m_store.setAndroidState(AndroidState::sleeping);
        m_store.setStatusMessage(u"Switched to "_s + AndroidVersions::name(api));
    } else {
        m_store.setAndroidState(AndroidState::notSetUp);
        m_store.setStatusMessage(AndroidVersions::name(api) + u" needs a one-time download"_s);
    }
}

void OpenAppFlow::deleteAndroidVersion(int api) {
    if (api == AndroidVersions::selected()) return;
    const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(api);
    QDir(paths.sdkRoot + u"/system-images/android-"_s + QString::number(api) + u"/default"_s)
        .removeRecursively();
    if (paths.avdHome) {
        QDir(*paths.avdHome + u'/' + paths.avdName + u".avd"_s).removeRecursively();
        QFile::remove(*paths.avdHome + u'/' + paths.avdName + u".ini"_s);
    }
    VantleLog::main().write(u"android version: deleted API "_s + QString::number(api));
    m_store.setStatusMessage(u"Deleted "_s + AndroidVersions::name(api));
}

void OpenAppFlow::confirmUninstall(const MobileApp& app) {
    if (!m_seams.confirm(u"Uninstall "_s + app.displayName() + u'?',
                         u"The app and its data are removed from Vantle's Android."_s, u"Uninstall"_s))
        return;
    const std::optional<QString> package = AndroidRuntimeCLI::knownPackage(app.sourcePath);
    if (!package) { // never installed: only the library entry goes
        m_store.remove(app);
        return;
    }
    if (AndroidWindowSession* session = AndroidWindowRegistry::shared().session(app.id))
        session->close(u"uninstall"_s);
    m_store.setStatusMessage(u"Uninstalling "_s + app.displayName() + u"…"_s);
    uninstall(app, *package);
}

QCoro::Task<> OpenAppFlow::uninstall(MobileApp app, QString package) {
    const QPointer<OpenAppFlow> alive(this);
    try {
        QCoro::Task<> booting = AndroidRuntimeCLI::ensureRuntime();
        co_await std::move(booting);
        QFuture<std::optional<QString>> uninstalling =
            QtConcurrent::run(&AndroidRuntimeCLI::pool(), [package] {
                return AndroidRuntimeCLI::runADB({u"uninstall"_s, package});
            });
        const std::optional<QString> output = co_await uninstalling;
        if (!alive) co_return;
        VantleLog::main().write(u"uninstall "_s + package + u": "_s + output.value_or(QString()).trimmed());
        VantleSettings::remove(SettingsKeys::installed.key(app.sourcePath));
        QFile::remove(AppIconStore::cacheFile(app.id));
        if (app.sourcePath.startsWith(AndroidRuntimeCLI::packagesDirectory() + u'/'))
            QFile::remove(app.sourcePath);
        QList<MobileApp> kept;
        for (const MobileApp& entry : m_store.apps())
            if (entry.id != app.id) kept.append(entry);
        m_store.setApps(kept);
        m_store.setStatusMessage(u"Uninstalled "_s + app.displayName());
    } catch (const std::exception& error) {
        if (alive) m_store.setStatusMessage(u"Uninstall failed: "_s + VantleError::describe(error));
    }
}
