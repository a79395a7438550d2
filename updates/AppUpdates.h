#pragma once

#include "core/Models.h"
#include "updates/UpdateSource.h"
#include "updates/UpdateTransport.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <chrono>
#include <functional>
#include <optional>

class AppLibraryStore;

// Newer versions of the library's Android apps from F-Droid and IzzyOnDroid: the check (at most
// once per six hours unless forced), the "Update available" results, and installing a chosen
// update over the app. One instance, made by the application and kept for its life; main thread
// only. Observable: every field below has a change signal, for the panel's tiles and the settings'
// updates page.
class AppUpdates final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString lastMessage READ lastMessage NOTIFY lastMessageChanged)
    Q_PROPERTY(bool checking READ isChecking NOTIFY checkingChanged)
public:
    static constexpr std::chrono::seconds automaticInterval{21600};

    enum class Trigger { automatic, forced };

    // The installed file, or a message for the user.
    struct InstallResult {
        std::optional<QString> file;
        QString failure;
        static InstallResult success(QString path) { return {std::move(path), {}}; }
        static InstallResult failed(QString message) { return {std::nullopt, std::move(message)}; }
    };

    // What the updates need of the device and the windows; each member left empty takes the real one.
    struct Seams {
        // The installed version codes of these packages, leaving out those that are not
        // installed; nothing when Android could not be asked (blocking, called on the Android pool).
        std::function<std::optional<QHash<QString, qint64>>(const QStringList& packages)>
            installedVersionCodes;
        // Closes the entry's open window, if any, before its app is replaced.
        std::function<void(const QUuid& appID)> closeWindow;
        // The clock of the six-hour rule.
        std::function<QDateTime()> now;
    };

    explicit AppUpdates(Seams seams = {}, QObject* parent = nullptr);

    const QHash<QString, AppUpdate>& available() const { return m_available; }
    const QHash<QString, QList<AppUpdate>>& candidates() const { return m_candidates; }
    const QSet<QString>& updating() const { return m_updating; }
    const QString& lastMessage() const { return m_lastMessage; }
    bool isChecking() const { return m_checking; }
    std::optional<QDateTime> lastCheck() const { return m_lastCheck; }

    // Starts a check when one is due and returns at once. An automatic check needs
    // "VantleCheckUpdates" and six hours since the last one of this run; a forced one runs anyway.
    // Never while another runs.
    void checkIfDue(AppLibraryStore& store, Trigger trigger);
    // The best update found for the entry; none for entries that are not Android apps.
    std::optional<AppUpdate> update(const MobileApp& app) const;
    // The entry's Android package: its bundle identifier, else the package its APK installed.
    static std::optional<QString> package(const MobileApp& app);
    // The version a repository suggests for the package; none on any failure.
    QCoro::Task<std::optional<AppUpdate>> latest(QString package, UpdateSource source);
    // The version code Android has installed. Blocking.
    static std::optional<qint64> installedVersionCode(const QString& package);
    // The same for many packages, from one package list of the device (`pm list packages
    // --show-versioncode`): one adb call, whatever the number of apps. Nothing when Android does
    // not answer (not running). Blocking.
    static std::optional<QHash<QString, qint64>> installedVersionCodes(const QStringList& packages);
    // A check that could not learn what Android has installed says so rather than "up to date".
    static constexpr auto androidNotRunning =
        QLatin1StringView("Updates not checked: Android is not running");

    // Starts installing the entry's best candidate, then the next ones until one installs; returns
    // at once. Ignored while that package is updating, or when it has no candidates.
    void install(const MobileApp& app, AppLibraryStore& store);
    // Downloads one candidate into the packages folder and installs it over the app.
    QCoro::Task<InstallResult> downloadAndInstall(AppUpdate update);

Q_SIGNALS:
    void availableChanged();
    void updatingChanged();
    void lastMessageChanged();
    void checkingChanged();

private:
    QCoro::Task<> check(QStringList packages, QList<UpdateSource> sources);
    QCoro::Task<> installCandidates(MobileApp app, QString package, QPointer<AppLibraryStore> store);
    QCoro::Task<InstallResult> installDownloaded(AppUpdate update, QString downloading);
    void setLastMessage(const QString& message);
    void setChecking(bool checking);

    Seams m_seams;
    UpdateTransport m_transport;
    QHash<QString, AppUpdate> m_available;
    QHash<QString, QList<AppUpdate>> m_candidates;
    QSet<QString> m_updating;
    QString m_lastMessage;
    bool m_checking = false;
    std::optional<QDateTime> m_lastCheck; // in memory only: each run may check once at its first chance
};
