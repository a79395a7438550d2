#include "updates/AppUpdates.h"

#include "apk/APKManifestReader.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleError.h"
#include "core/VantleLog.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/RuntimeBoot.h"
#include "updates/UpdateRules.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::Literals::StringLiterals;

namespace {

void closeRegisteredWindow(const QUuid& appID) {
    if (AndroidWindowSession* session = AndroidWindowRegistry::shared().session(appID))
        session->close(u"update"_s);
}

// `adb install -r`, standard output and error together: adb reports a refusal on its error stream.
QString installOverApp(const QString& apk, const QString& package) {
    QString output;
    try {
        output = AndroidRuntimeCLI::adbDevice({u"install"_s, u"-r"_s, apk});
    } catch (const AndroidRuntimeError& error) {
        output = error.description();
    }
    if (output.contains(u"Success"_s)) AndroidRuntimeCLI::rememberInstalled(apk, package);
    return output;
}

} // namespace

AppUpdates::AppUpdates(Seams seams, QObject* parent)
    : QObject(parent)
    , m_seams(std::move(seams)) {
    if (!m_seams.installedVersionCodes) m_seams.installedVersionCodes = &AppUpdates::installedVersionCodes;
    if (!m_seams.closeWindow) m_seams.closeWindow = closeRegisteredWindow;
    if (!m_seams.now) m_seams.now = [] { return QDateTime::currentDateTimeUtc(); };
}

std::optional<QString> AppUpdates::package(const MobileApp& app) {
    if (app.platform != MobilePlatform::android) return std::nullopt;
    const std::optional<QString> package = app.bundleIdentifier && !app.bundleIdentifier->isEmpty()
                                               ? app.bundleIdentifier
                                               : AndroidRuntimeCLI::knownPackage(app.sourcePath);
    // The name goes into device commands: only names Android itself would accept.
    if (!package || !AndroidRuntimeCLI::isValidPackageName(*package)) return std::nullopt;
    return package;
}

std::optional<AppUpdate> AppUpdates::update(const MobileApp& app) const {
    const std::optional<QString> name = package(app);
    if (!name) return std::nullopt;
    const auto found = m_available.constFind(*name);
    return found == m_available.cend() ? std::nullopt : std::optional(*found);
}

std::optional<qint64> AppUpdates::installedVersionCode(const QString& package) {
    const auto codes = installedVersionCodes({package});
    return codes && codes->contains(package) ? std::optional(codes->value(package)) : std::nullopt;
}

std::optional<QHash<QString, qint64>> AppUpdates::installedVersionCodes(const QStringList& packages) {
    const std::optional<QString> output =
        AndroidRuntimeCLI::runADB({u"shell"_s, u"pm"_s, u"list"_s, u"packages"_s, u"--show-versioncode"_s},
                                  AndroidRuntimeCLI::probeTimeoutMs);
    const QHash<QString, qint64> installed =
        output ? UpdateRules::readPackageList(*output) : QHash<QString, qint64>();
    // A running Android always lists its own packages; an empty list is no answer.
    if (installed.isEmpty()) return std::nullopt;
    QHash<QString, qint64> codes;
    for (const QString& package : packages)
        if (const auto found = installed.constFind(package); found != installed.cend())
            codes.insert(package, *found);
    return codes;
}

void AppUpdates::checkIfDue(AppLibraryStore& store, Trigger trigger) {
    if (trigger == Trigger::automatic && !VantleSettings::get(SettingsKeys::checkUpdates)) return;
    if (m_checking) return;
    const QDateTime now = m_seams.now();
    if (trigger == Trigger::automatic && m_lastCheck && m_lastCheck->secsTo(now) < automaticInterval.count())
        return;

    QStringList packages;
    for (const MobileApp& app : store.apps())
        if (const std::optional<QString> name = package(app); name && !packages.contains(*name))
            packages.append(*name);
    QList<UpdateSource> sources;
    for (const UpdateSource source : UpdateSources::all())
        if (VantleSettings::get(UpdateSources::setting(source))) sources.append(source);
    if (packages.isEmpty() || sources.isEmpty()) {
        setLastMessage(sources.isEmpty() ? u"No store is turned on"_s : QString());
        return;
    }
    setChecking(true);
    m_lastCheck = now;
    setLastMessage(UpdateRules::checkingMessage(sources));
    check(packages, sources);
}

QCoro::Task<> AppUpdates::check(QStringList packages, QList<UpdateSource> sources) {
    const QPointer<AppUpdates> alive(this); // the check may outlive its owner
    QFuture<std::optional<QHash<QString, qint64>>> probing =
        QtConcurrent::run(&AndroidRuntimeCLI::pool(), m_seams.installedVersionCodes, packages);
    const std::optional<QHash<QString, qint64>> answer = co_await probing;
    if (!alive) co_return;
    if (!answer) {
        // Nothing is known about this run's apps: the last results stay.
        setChecking(false);
        setLastMessage(androidNotRunning);
        VantleLog::main().write(u"updates: not checked, Android's package list could not be read"_s);
        co_return;
    }
    const QHash<QString, qint64>& installedCodes = *answer;
    QHash<QString, QList<AppUpdate>> found;
    // One package and one repository after the other: the repositories are public services.
    for (const QString& package : packages) {
        const auto installed = installedCodes.constFind(package);
        if (installed == installedCodes.cend()) continue; // not in Android: nothing to update
        QList<AppUpdate> newer;
        for (const UpdateSource source : sources) {
            QCoro::Task<std::optional<AppUpdate>> asking = latest(package, source);
            const std::optional<AppUpdate> offered = co_await std::move(asking);
            if (!alive) co_return;
            if (offered && offered->versionCode > *installed) newer.append(*offered);
        }
        UpdateRules::sortBestFirst(newer);
        if (!newer.isEmpty()) found.insert(package, newer);
    }

    m_candidates = found;
    m_available.clear();
    QMap<QString, AppUpdate> logged; // sorted for the log
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        m_available.insert(it.key(), it->first());
        logged.insert(it.key(), it->first());
    }
    Q_EMIT availableChanged();
    setChecking(false);
    setLastMessage(UpdateRules::resultMessage(m_available.size()));
    VantleLog::main().write(UpdateRules::checkLogLine(packages.size(), sources, logged));
}

QCoro::Task<std::optional<AppUpdate>> AppUpdates::latest(QString package, UpdateSource source) {
    const QUrl url = UpdateSources::apiURL(source, package);
    if (!url.isValid()) co_return std::nullopt;
    QCoro::Task<std::optional<QByteArray>> fetching = m_transport.fetch(url);
    const std::optional<QByteArray> body = co_await std::move(fetching);
    if (!body) co_return std::nullopt;
    co_return UpdateRules::readPackageApi(*body, package, source);
}

void AppUpdates::install(const MobileApp& app, AppLibraryStore& store) {
    const std::optional<QString> name = package(app);
    if (!name || m_candidates.value(*name).isEmpty() || m_updating.contains(*name)) return;
    m_updating.insert(*name);
    Q_EMIT updatingChanged();
    setLastMessage(u"Updating "_s + app.displayName() + u"…"_s);
    store.setStatusMessage(m_lastMessage);
    m_seams.closeWindow(app.id);
    installCandidates(app, *name, &store);
}

QCoro::Task<> AppUpdates::installCandidates(MobileApp app, QString package, QPointer<AppLibraryStore> store) {
    const QPointer<AppUpdates> alive(this);
    const QList<AppUpdate> candidates = m_candidates.value(package);
    QStringList reasons;
    bool installed = false;
    for (const AppUpdate& candidate : candidates) {
        QCoro::Task<InstallResult> installing = downloadAndInstall(candidate);
        const InstallResult result = co_await std::move(installing);
        if (!alive) co_return;
        const QString storeName = UpdateSources::displayName(candidate.source);
        if (!result.file) {
            reasons.append(storeName + u": "_s + result.failure);
            continue;
        }
        m_available.remove(package);
        m_candidates.remove(package);
        Q_EMIT availableChanged();
        if (store) store->replaceSource(app.id, QUrl::fromLocalFile(*result.file), package);
        setLastMessage(app.displayName() + u" updated to "_s + candidate.versionName + u" ("_s + storeName +
                       u')');
        installed = true;
        break;
    }
    if (!installed) setLastMessage(reasons.join(u" · "_s));
    m_updating.remove(package);
    Q_EMIT updatingChanged();
    if (store) store->setStatusMessage(m_lastMessage);
    VantleLog::main().write(u"updates: "_s + package + u" -> "_s + VantleLog::escaped(m_lastMessage));
}

QCoro::Task<AppUpdates::InstallResult> AppUpdates::downloadAndInstall(AppUpdate update) {
    const QUrl url = UpdateSources::apkURL(update.source, update.package, update.versionCode);
    if (!url.isValid() || !AndroidRuntimeCLI::isValidPackageName(update.package))
        co_return InstallResult::failed(u"Bad update address"_s);

    QString bootFailure;
    try {
        QCoro::Task<> booting = AndroidRuntimeCLI::ensureRuntime();
        co_await std::move(booting);
    } catch (const std::exception& error) {
        bootFailure = VantleError::describe(error);
    }
    if (!bootFailure.isEmpty()) co_return InstallResult::failed(u"update failed: "_s + bootFailure);

    const QString folder = AndroidRuntimeCLI::packagesDirectory();
    QDir().mkpath(folder);
    const QString name = update.package + u'-' + QString::number(update.versionCode) + u".apk"_s;
    const QString target = folder + u'/' + name;
    // Beside the target, so that the move into place is a rename on one file system.
    const QString downloading = folder + u"/."_s + name + u".download"_s;
    QCoro::Task<UpdateTransport::Download> fetching = m_transport.download(url, downloading);
    const UpdateTransport::Download download = co_await std::move(fetching);
    if (download.outcome == UpdateTransport::Download::Outcome::notOk)
        co_return InstallResult::failed(u"Download failed"_s);
    if (download.outcome == UpdateTransport::Download::Outcome::failed)
        co_return InstallResult::failed(u"update failed: "_s + download.error);

    QCoro::Task<InstallResult> installing = installDownloaded(update, downloading);
    co_return co_await std::move(installing);
}

// Checks that the download is the app being updated, moves it into place and installs it over the
// app; a refused file is deleted and the installed app and the library entry stay as they were.
QCoro::Task<AppUpdates::InstallResult> AppUpdates::installDownloaded(AppUpdate update, QString downloading) {
    QFuture<std::optional<QString>> reading =
        QtConcurrent::run(&AndroidRuntimeCLI::pool(), &APKManifestReader::packageName, downloading);
    const std::optional<QString> downloaded = co_await reading;
    if (downloaded != update.package) {
        QFile::remove(downloading);
        co_return InstallResult::failed(UpdateRules::notThePackage(update.package));
    }
    const QString target = QFileInfo(downloading).path() + u'/' + update.package + u'-' +
                           QString::number(update.versionCode) + u".apk"_s;
    QFile::remove(target);
    if (!QFile::rename(downloading, target)) {
        QFile::remove(downloading);
        co_return InstallResult::failed(u"update failed: could not move the download to "_s + target);
    }
    QFuture<QString> installing =
        QtConcurrent::run(&AndroidRuntimeCLI::pool(), installOverApp, target, update.package);
    const QString output = co_await installing;
    if (output.contains(u"Success"_s)) co_return InstallResult::success(target);
    QFile::remove(target);
    co_return InstallResult::failed(UpdateRules::installRefusal(output));
}

void AppUpdates::setLastMessage(const QString& message) {
    if (message == m_lastMessage) return;
    m_lastMessage = message;
    Q_EMIT lastMessageChanged();
}

void AppUpdates::setChecking(bool checking) {
    if (checking == m_checking) return;
    m_checking = checking;
    Q_EMIT checkingChanged();
}
