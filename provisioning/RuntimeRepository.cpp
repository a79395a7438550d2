#include "provisioning/RuntimeRepository.h"

#include "provisioning/AndroidVersions.h"
#include "provisioning/FileChecks.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/TransferPolicy.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/HostDescription.h"

#include <QCoro/QCoroNetworkReply>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcessEnvironment>
#include <algorithm>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace RuntimeRepository {

namespace {
bool isStable(const RepositoryParser::Package& package) {
    return package.channel.isEmpty() || package.channel == "channel-0"_L1;
}

// The archive this computer runs: the list's host names, the preferred architecture first.
std::optional<RepositoryParser::Archive> archiveForHost(const QList<RepositoryParser::Archive>& archives) {
    const HostDescription& host = HostDescription::current();
    QList<RepositoryParser::Archive> fitting;
    for (const auto& archive : archives)
        if ((archive.os.isEmpty() || archive.os == host.repositoryOS) &&
            (archive.arch.isEmpty() || host.repositoryArchs.contains(archive.arch)))
            fitting.append(archive);
    if (fitting.isEmpty()) return std::nullopt;
    for (const auto& archive : fitting)
        if (!archive.arch.isEmpty()) return archive;
    return fitting.first();
}

QString joinedRevision(const QList<int>& revision) {
    QStringList parts;
    for (int number : revision)
        parts.append(QString::number(number));
    return parts.join(u'.');
}
} // namespace

QUrl base() {
    const QString configured = qEnvironmentVariable("VANTLE_SDK_REPOSITORY");
    QUrl url = configured.isEmpty() ? QUrl(u"https://dl.google.com/android/repository/"_s) : QUrl(configured);
    if (!url.path().endsWith(u'/')) url.setPath(url.path() + u'/');
    return url;
}

QUrl sysImgBase() {
    return base().resolved(QUrl(u"sys-img/android/"_s));
}

QList<WantedPackage> wanted() {
    const int api = AndroidVersions::selected();
    const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(api);
    const QUrl repository = base().resolved(QUrl(u"repository2-3.xml"_s));
    QList<WantedPackage> packages;
    if (!isExecutableFile(paths.adb())) packages.append({u"platform-tools"_s, repository, base()});
    if (!isExecutableFile(paths.emulator())) packages.append({u"emulator"_s, repository, base()});
    packages.append(
        {u"system-images;android-%1;default;"_s.arg(api) + HostDescription::current().systemImageABI,
         sysImgBase().resolved(QUrl(u"sys-img2-3.xml"_s)), sysImgBase()});
    return packages;
}

RuntimePlan planFrom(const QList<WantedPackage>& wanted, const QMap<QString, RepositoryParser>& parsers) {
    RuntimePlan plan;
    QMap<QString, QString> licenseTexts;
    for (const WantedPackage& entry : wanted) {
        const RepositoryParser& parser = parsers[entry.indexURL.toString()];
        // Stable packages of this path; the newest revision, the earliest on a tie.
        const RepositoryParser::Package* chosen = nullptr;
        for (const auto& package : parser.packages)
            if (package.path == entry.packagePath && isStable(package) &&
                (!chosen || chosen->revision < package.revision))
                chosen = &package;
        if (!chosen) throw RuntimeProvisionError::missingPackage(entry.packagePath);
        const auto archive = archiveForHost(chosen->archives);
        if (!archive) throw RuntimeProvisionError::missingPackage(entry.packagePath);
        const QUrl url = entry.baseURL.resolved(QUrl(archive->url));
        if (archive->url.isEmpty() || !url.isValid() || url.isRelative())
            throw RuntimeProvisionError::missingPackage(entry.packagePath);
        plan.archives.append({entry.packagePath, chosen->displayName, joinedRevision(chosen->revision), url,
                              archive->size, archive->sha1.toLower(), chosen->licenseRef});
        if (const auto text = parser.licenses.constFind(chosen->licenseRef); text != parser.licenses.cend())
            licenseTexts.insert(chosen->licenseRef, *text);
    }
    for (auto it = licenseTexts.cbegin(); it != licenseTexts.cend(); ++it)
        plan.licenses.append({it.key(), it.value()});
    return plan;
}

namespace {
QCoro::Task<RepositoryParser> fetchList(QNetworkAccessManager* network, QUrl url,
                                        std::chrono::milliseconds stallLimit) {
    const TransferPolicy::Owned<QNetworkReply> reply(network->get(TransferPolicy::request(url, stallLimit)));
    co_await reply.get();
    if (const auto refused = TransferPolicy::refusal(*reply, stallLimit))
        throw RuntimeProvisionError::manifest(*refused + u" for "_s + url.fileName());
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && reply->error() != QNetworkReply::NoError)
        throw RuntimeProvisionError::download(reply->errorString());
    if (status.toInt() != 200)
        throw RuntimeProvisionError::manifest(u"HTTP %1 for "_s.arg(status.toInt()) + url.fileName());
    if (reply->error() != QNetworkReply::NoError) throw RuntimeProvisionError::download(reply->errorString());
    RepositoryParser parser;
    if (!parser.parse(reply->readAll()))
        throw RuntimeProvisionError::manifest(parser.errorString().isEmpty() ? u"parse error"_s
                                                                             : parser.errorString());
    co_return parser;
}
} // namespace

QCoro::Task<RuntimePlan> plan(std::chrono::milliseconds stallLimit) {
    const QList<WantedPackage> packages = wanted();
    const TransferPolicy::Owned<QNetworkAccessManager> network(new QNetworkAccessManager);
    QMap<QString, RepositoryParser> parsers;
    for (const WantedPackage& entry : packages) {
        const QString key = entry.indexURL.toString();
        if (parsers.contains(key)) continue;
        QCoro::Task<RepositoryParser> fetching = fetchList(network.get(), entry.indexURL, stallLimit);
        RepositoryParser parser = co_await std::move(fetching);
        parsers.insert(key, std::move(parser));
    }
    co_return planFrom(packages, parsers);
}

} // namespace RuntimeRepository
