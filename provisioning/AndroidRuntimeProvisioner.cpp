#include "provisioning/AndroidRuntimeProvisioner.h"

#include "core/VantleError.h"
#include "core/VantleLog.h"
#include "platform/Locations.h"
#include "platform/Virtualisation.h"
#include "provisioning/AndroidVersions.h"
#include "provisioning/ArchiveUnpacker.h"
#include "provisioning/DownloadDelegate.h"
#include "provisioning/RuntimeInstallRecord.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/RuntimeRepository.h"
#include "provisioning/TransferPolicy.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/AndroidRuntimeError.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <memory>
#include <openssl/evp.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// What an archive still needs on disk before it is downloaded: the rest of its download (a kept
// file or partial download counts as far as it goes) and its estimated unpacked size.
DiskSpace::Pending beforeDownload(const RuntimeArchive& archive) {
    const QString file = AndroidRuntimePaths::managedRoot() + u"/downloads/"_s + archive.url.fileName();
    const QFileInfo kept(QFileInfo::exists(file) ? file : DownloadDelegate::partialPath(file));
    const qint64 have = kept.exists() ? kept.size() : 0;
    return {std::max<qint64>(archive.size - have, 0), std::nullopt, archive.size};
}

} // namespace

AndroidRuntimeProvisioner::AndroidRuntimeProvisioner()
    : m_stallTimeout(TransferPolicy::standardStallLimit)
    , m_freeSpace(DiskSpace::freeBytes) {}

void AndroidRuntimeProvisioner::setFreeSpaceQuery(FreeSpaceQuery query) {
    m_freeSpace = query ? std::move(query) : FreeSpaceQuery(DiskSpace::freeBytes);
}

void AndroidRuntimeProvisioner::checkDiskSpace(const QString& when,
                                               const QList<DiskSpace::Pending>& pending) {
    const QString folder = AndroidRuntimePaths::managedRoot();
    const qint64 need = DiskSpace::needed(pending);
    const std::optional<qint64> free = m_freeSpace(folder);
    log(u"disk check %1 need=%2 free=%3"_s.arg(when, QString::number(need),
                                               free ? QString::number(*free) : u"unknown"_s));
    if (!free) return; // the writes themselves will tell
    if (const auto message = DiskSpace::shortfall(need, *free, folder))
        throw RuntimeProvisionError::diskSpace(*message);
}

void AndroidRuntimeProvisioner::checkVirtualisation(const QString& when) {
    const QString problem = Virtualisation::hostProblem().value_or(QString());
    if (!problem.isEmpty()) log(u"virtualisation %1: %2"_s.arg(when, problem));
    if (problem == m_virtualisationProblem) return;
    m_virtualisationProblem = problem;
    Q_EMIT virtualisationProblemChanged();
}

// Opened on first use, and again when Vantle's home moved (tests give each case its own).
void AndroidRuntimeProvisioner::log(const QString& line) {
    const QString path = Locations::logs() + u"/runtime-setup.log"_s;
    if (!m_log || m_log->path() != path)
        m_log = std::make_unique<VantleLog>(u"runtime-setup.log"_s, VantleLog::Opening::append);
    m_log->write(line);
}

AndroidRuntimeProvisioner::~AndroidRuntimeProvisioner() = default;

AndroidRuntimeProvisioner& AndroidRuntimeProvisioner::shared() {
    static AndroidRuntimeProvisioner* instance = new AndroidRuntimeProvisioner;
    return *instance;
}

void AndroidRuntimeProvisioner::setPhase(ProvisionPhase phase) {
    if (m_phase == phase) return;
    m_phase = std::move(phase);
    Q_EMIT phaseChanged();
}

void AndroidRuntimeProvisioner::reset() {
    using Kind = ProvisionPhase::Kind;
    if (m_phase.kind == Kind::downloading || m_phase.kind == Kind::installing) return;
    setPhase(ProvisionPhase::idle());
    if (m_plan) {
        m_plan.reset();
        Q_EMIT planChanged();
    }
}

void AndroidRuntimeProvisioner::prepare() {
    using Kind = ProvisionPhase::Kind;
    if (AndroidRuntimePaths::managed(AndroidVersions::selected()).isComplete()) {
        setPhase(ProvisionPhase::ready());
        return;
    }
    if (m_phase.kind != Kind::idle && m_phase.kind != Kind::failed) return;
    checkVirtualisation(u"before set-up"_s);
    setPhase(ProvisionPhase::checking());
    readPlan(); // runs on by itself; it catches everything it throws
}

QCoro::Task<> AndroidRuntimeProvisioner::readPlan() {
    try {
        QCoro::Task<RuntimePlan> planning = RuntimeRepository::plan(m_stallTimeout);
        RuntimePlan plan = co_await std::move(planning);
        for (const RuntimeArchive& archive : plan.archives)
            log(u"plan %1 %2 %3 bytes sha1=%4 %5 license=%6"_s.arg(
                archive.packagePath, archive.revision, QString::number(archive.size), archive.sha1,
                archive.url.toString(), archive.licenseID));
        m_plan = std::move(plan);
        Q_EMIT planChanged();
        setPhase(ProvisionPhase::needsAcceptance());
    } catch (...) {
        const QString description = VantleError::describe(std::current_exception());
        log(u"plan failed: "_s + description);
        setPhase(ProvisionPhase::failed(description));
    }
}

void AndroidRuntimeProvisioner::acceptAndInstall() {
    if (!m_plan || m_phase.kind != ProvisionPhase::Kind::needsAcceptance) return;
    if (AndroidRuntimePaths::managed(AndroidVersions::selected()).isComplete()) return;
    QStringList accepted;
    for (const RuntimeLicense& license : m_plan->licenses)
        accepted.append(license.id);
    log(u"user accepted licences "_s + accepted.join(u','));
    // The install sets its first phase before it first waits, so a second press finds nothing to
    // accept.
    install(*m_plan, accepted);
}

QCoro::Task<> AndroidRuntimeProvisioner::install(RuntimePlan plan, QStringList acceptedLicenses) {
    try {
        const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(AndroidVersions::selected());
        const QString root = AndroidRuntimePaths::managedRoot();
        if (!QDir().mkpath(root + u"/downloads"_s) || !QDir().mkpath(paths.sdkRoot))
            throw InstallWriteError(root);
        QList<DiskSpace::Pending> pending;
        for (const RuntimeArchive& archive : plan.archives)
            pending.append(beforeDownload(archive));
        checkVirtualisation(u"before download"_s);
        checkDiskSpace(u"before download"_s, pending);
        for (qsizetype i = 0; i < plan.archives.size(); ++i) {
            QCoro::Task<> step = installArchive(plan.archives[i], paths, plan.archives.mid(i + 1));
            co_await std::move(step);
        }

        setPhase(ProvisionPhase::installing(u"Creating Vantle Android device…"_s));
        RuntimeInstallRecord::writeAVD(paths);
        RuntimeInstallRecord::writeAtomically(
            root + u"/runtime-manifest.json"_s,
            RuntimeInstallRecord::manifest(plan.archives, acceptedLicenses, QDateTime::currentDateTimeUtc()));
        for (const RuntimeLicense& license : plan.licenses) {
            const QString folder = paths.sdkRoot + u"/licenses"_s;
            if (!QDir().mkpath(folder)) throw InstallWriteError(folder);
            RuntimeInstallRecord::writeAtomically(folder + u'/' + license.id + u".txt"_s,
                                                  license.text.toUtf8());
        }
        QDir(root + u"/downloads"_s).removeRecursively();
        setPhase(ProvisionPhase::ready());
        log(u"runtime ready at "_s + root);
    } catch (...) {
        const QString description = VantleError::describe(std::current_exception());
        log(u"install failed: "_s + description);
        setPhase(ProvisionPhase::failed(description));
    }
}

QCoro::Task<> AndroidRuntimeProvisioner::installArchive(const RuntimeArchive& archive,
                                                        const AndroidRuntimePaths& paths,
                                                        QList<RuntimeArchive> later) {
    const QString file = AndroidRuntimePaths::managedRoot() + u"/downloads/"_s + archive.url.fileName();
    const QString component = archive.componentName();

    const auto hashOffMainThread = [](QString path) {
        return QtConcurrent::run(&AndroidRuntimeCLI::pool(), [path] { return sha1(path); });
    };
    // Each co_await stands alone in its statement: GCC 12 mishandles temporaries around co_await
    // inside larger expressions.
    setPhase(ProvisionPhase::installing(u"Verifying "_s + component + u"…"_s));
    QString keptDigest;
    if (QFileInfo::exists(file)) {
        QFuture<QString> hashing = hashOffMainThread(file);
        keptDigest = co_await hashing;
    }
    if (keptDigest != archive.sha1) {
        setPhase(ProvisionPhase::downloading(component, 0));
        QElapsedTimer elapsed;
        elapsed.start();
        QPointer<AndroidRuntimeProvisioner> self(this);
        DownloadDelegate download(
            file,
            [self, component](qint64 written, qint64 expected) {
                if (self)
                    self->setPhase(ProvisionPhase::downloading(
                        component, expected < 1 ? 0 : double(written) / double(expected)));
            },
            m_stallTimeout);
        QCoro::Task<> downloading = download.run(archive.url);
        co_await std::move(downloading);
        log(u"downloaded %1 in %2s"_s.arg(QFileInfo(file).fileName(),
                                          QString::number(elapsed.elapsed() / 1000.0, 'f', 1)));
    }

    setPhase(ProvisionPhase::installing(u"Verifying "_s + component + u"…"_s));
    QFuture<QString> hashing = hashOffMainThread(file);
    const QString digest = co_await hashing;
    if (digest != archive.sha1) throw RuntimeProvisionError::checksum(component);

    // Now the archive's own entries tell what it unpacks to; the later archives are still estimates.
    QFuture<std::optional<qint64>> sizing =
        QtConcurrent::run(&AndroidRuntimeCLI::pool(), [file] { return ArchiveUnpacker::unpackedSize(file); });
    const std::optional<qint64> unpackedBytes = co_await sizing;
    QList<DiskSpace::Pending> pending{{0, unpackedBytes, archive.size}};
    for (const RuntimeArchive& next : later)
        pending.append(beforeDownload(next));
    checkDiskSpace(u"before unpacking "_s + QFileInfo(file).fileName(), pending);

    setPhase(ProvisionPhase::installing(u"Unpacking "_s + component + u"…"_s));
    const QString destination = archive.packagePath.startsWith("system-images;"_L1)
                                    ? paths.sdkRoot + u"/system-images/android-%1/default"_s.arg(paths.api)
                                    : paths.sdkRoot;
    if (!QDir().mkpath(destination)) throw InstallWriteError(destination);
    QFuture<QString> unpacking = QtConcurrent::run(&AndroidRuntimeCLI::pool(), [file, destination] {
        return ArchiveUnpacker::unpack(file, destination);
    });
    const QString problem = co_await unpacking;
    if (!problem.isEmpty()) throw RuntimeProvisionError::extract(component, problem);
    log(u"installed %1 %2 into %3"_s.arg(archive.packagePath, archive.revision, destination));
}

QString AndroidRuntimeProvisioner::sha1(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    // OpenSSL rather than QCryptographicHash: it uses the CPU's SHA extensions, which makes the
    // check of a gigabyte image several times faster.
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha1(), nullptr) != 1) return {};
    constexpr qint64 chunkBytes = 4 * 1024 * 1024;
    QByteArray chunk(chunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(chunk.data(), chunkBytes);
        if (read < 0) return {};
        if (read == 0) break;
        if (EVP_DigestUpdate(hash.get(), chunk.constData(), size_t(read)) != 1) return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestBytes = 0;
    if (EVP_DigestFinal_ex(hash.get(), digest, &digestBytes) != 1) return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(digestBytes)).toHex());
}
