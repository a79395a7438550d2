#pragma once

#include "provisioning/DiskSpace.h"
#include "provisioning/RuntimePlan.h"
#include "runtime/AndroidRuntimePaths.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class VantleLog;

// Where the set-up of Vantle's own Android stands; what the set-up screen shows.
struct ProvisionPhase {
    enum class Kind { idle, checking, needsAcceptance, downloading, installing, ready, failed };

    Kind kind = Kind::idle;
    QString text;        // downloading: the component; installing: the status line; failed: the message
    double fraction = 0; // downloading: 0…1

    static ProvisionPhase idle() { return {}; }
    static ProvisionPhase checking() { return {Kind::checking, {}, 0}; }
    static ProvisionPhase needsAcceptance() { return {Kind::needsAcceptance, {}, 0}; }
    static ProvisionPhase downloading(QString component, double fraction) {
        return {Kind::downloading, std::move(component), fraction};
    }
    static ProvisionPhase installing(QString status) { return {Kind::installing, std::move(status), 0}; }
    static ProvisionPhase ready() { return {Kind::ready, {}, 0}; }
    static ProvisionPhase failed(QString message) { return {Kind::failed, std::move(message), 0}; }

    bool operator==(const ProvisionPhase&) const = default;
};

// Turns a missing Android runtime into a ready one: plan, licence acceptance, download, checksum,
// unpack, virtual device, install record. One shared instance, used on the main thread only;
// hashing and unpacking run on the thread pool and are awaited. The steps are logged to
// "runtime-setup.log".
class AndroidRuntimeProvisioner final : public QObject {
    Q_OBJECT

public:
    using Phase = ProvisionPhase;

    static AndroidRuntimeProvisioner& shared();
    ~AndroidRuntimeProvisioner() override;

    ProvisionPhase phase() const { return m_phase; }
    const std::optional<RuntimePlan>& plan() const { return m_plan; }
    // What keeps Android from running on this computer once installed (no usable hardware
    // virtualisation), in plain words with the fix; empty when nothing does. Checked when set-up
    // is prepared and again before the download. Set-up goes ahead regardless: the download is
    // of use once the user has fixed it.
    const QString& virtualisationProblem() const { return m_virtualisationProblem; }

    // Asks Google for a plan unless the selected runtime is complete (then: ready). Does nothing
    // while a plan is being read, awaits acceptance or an install runs.
    void prepare();
    // Installs the stored plan; only while it awaits acceptance.
    void acceptAndInstall();
    // Forgets the plan (the user chose another Android version); ignored while installing.
    void reset();

    // How long a list or archive may send nothing before it is given up (a minute unless a test
    // needs less).
    void setStallTimeout(std::chrono::milliseconds limit) { m_stallTimeout = limit; }
    // How the free space of the runtime folder is measured (DiskSpace::freeBytes unless a test
    // needs a small disk where it cannot mount one).
    using FreeSpaceQuery = std::function<std::optional<qint64>(const QString& folder)>;
    void setFreeSpaceQuery(FreeSpaceQuery query);

    // SHA-1 of a file as 40 lower-case hexadecimal digits, read in 4 MiB chunks; empty when the
    // file cannot be read.
    static QString sha1(const QString& path);

Q_SIGNALS:
    void phaseChanged();
    void planChanged();
    void virtualisationProblemChanged();

private:
    AndroidRuntimeProvisioner();
    void setPhase(ProvisionPhase phase);
    void log(const QString& line);
    QCoro::Task<> readPlan();
    QCoro::Task<> install(RuntimePlan plan, QStringList acceptedLicenses);
    QCoro::Task<> installArchive(const RuntimeArchive& archive, const AndroidRuntimePaths& paths,
                                 QList<RuntimeArchive> later);
    // Throws RuntimeProvisionError::diskSpace when the runtime folder's file system is too small.
    void checkDiskSpace(const QString& when, const QList<DiskSpace::Pending>& pending);
    void checkVirtualisation(const QString& when);

    ProvisionPhase m_phase;
    std::optional<RuntimePlan> m_plan;
    QString m_virtualisationProblem;
    std::unique_ptr<VantleLog> m_log;
    std::chrono::milliseconds m_stallTimeout;
    FreeSpaceQuery m_freeSpace;
};
