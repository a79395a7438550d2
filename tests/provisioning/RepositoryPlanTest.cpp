// Google's package lists: the parser, and the choice of package and archive for this computer.
// Downloads and lists over HTTP(S): certificates are checked, redirects that stay on HTTPS (mirrors,
// CDNs) are followed and one to plain HTTP never is; a body without a length is read to its end.
#include "RepositoryFixtures.h"
#include "core/WaitFor.h"
#include "platform/Locations.h"
#include "provisioning/AndroidVersions.h"
#include "provisioning/DownloadDelegate.h"
#include "provisioning/RepositoryParser.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/RuntimeRepository.h"
#include "provisioning/TransferPolicy.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/HostDescription.h"
#include "sim/SimInstaller.h"
#include "support/DeviceFiles.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestSupport.h"

#include <QScopeGuard>
#include <QSslConfiguration>
#include <gtest/gtest.h>
#include <variant>

using namespace Qt::Literals::StringLiterals;
using RepositoryFixtures::Archive;
using RepositoryFixtures::Package;

namespace {

const HostDescription& host = HostDescription::current();

Archive hostArchive(const QString& url) {
    return {url, 100, u"ab"_s, host.repositoryOS, host.repositoryArchs.first()};
}

// The plan for `packages` listed under https://example.org/android/repository/, or why there is none.
std::variant<RuntimePlan, QString> planOf(const QList<Package>& packages) {
    const QUrl base(u"https://example.org/android/repository/"_s);
    const QUrl index = base.resolved(QUrl(u"repository2-3.xml"_s));
    RepositoryParser parser;
    EXPECT_TRUE(parser.parse(RepositoryFixtures::list(packages, {}, false)))
        << parser.errorString().toStdString();
    try {
        return RuntimeRepository::planFrom({{u"emulator"_s, index, base}}, {{index.toString(), parser}});
    } catch (const RuntimeProvisionError& error) {
        return error.description();
    }
}
QString chosen(const QList<Package>& packages) { // the display name and file of the chosen archive
    const auto plan = planOf(packages);
    if (const QString* why = std::get_if<QString>(&plan)) return *why;
    const RuntimeArchive archive = std::get<RuntimePlan>(plan).archives.value(0);
    return archive.displayName + u' ' + archive.url.fileName();
}

// The selected level is AndroidRuntimePaths::selectedAPI's (RuntimePathsTest).
TEST(AndroidVersionsTest, NamesAndInstalledListsCompleteRuntimes) {
    EXPECT_EQ(AndroidVersions::name(32), u"Android 12L"_s);
    EXPECT_EQ(AndroidVersions::name(36), u"Android 16"_s);
    EXPECT_EQ(AndroidVersions::name(29), u"Android (API 29)"_s);

    QTemporaryDir home;
    const ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    EXPECT_TRUE(AndroidVersions::installed().isEmpty());
    for (int api : {36, 33})
        ASSERT_EQ(
            SimInstaller::install({Locations::runtime(), QStringLiteral(VANTLE_SIM_TOOLS_DIR), api, {}, {}}),
            QString());
    EXPECT_EQ(AndroidVersions::installed(), (QList<int>{33, 36}));
    QFile::remove(AndroidRuntimePaths::managed(36).systemImage());
    EXPECT_EQ(AndroidVersions::installed(), QList<int>{33});
}

TEST(RepositoryParserTest, ReadsPackagesLicencesAndPrefixedElements) {
    RepositoryParser parser;
    ASSERT_TRUE(parser.parse(
        "<sdk:sdk-repository xmlns:sdk='s' xmlns:common='c'>"
        "<common:license id='lic-a' type='text'>\n  Terms A\n</common:license>"
        "<remotePackage path='emulator'>"
        "<revision><major>35</major><minor>1</minor><micro>x</micro><preview>2</preview></revision>"
        "<display-name>\n Android Emulator \n</display-name><uses-license ref='lic-a'/>"
        "<archives><archive><complete><size>12</size><checksum type='sha1'>AB</checksum>"
        "<url>first.zip</url><url>second.zip</url></complete><host-os>linux</host-os></archive>"
        "<archive><complete><size>nope</size></complete></archive></archives>"
        "</remotePackage><remotePackage path='lonely'/></sdk:sdk-repository>"));
    EXPECT_EQ(parser.licenses.value(u"lic-a"_s), u"\n  Terms A\n"_s); // untrimmed
    ASSERT_EQ(parser.packages.size(), 2);
    const auto& emulator = parser.packages[0];
    EXPECT_EQ(emulator.path, u"emulator"_s);
    EXPECT_EQ(emulator.displayName, u"Android Emulator"_s);
    EXPECT_EQ(emulator.revision, (QList<int>{35, 1, 0}));
    EXPECT_EQ(emulator.licenseRef, u"lic-a"_s);
    EXPECT_TRUE(emulator.channel.isEmpty());
    ASSERT_EQ(emulator.archives.size(), 2);
    EXPECT_EQ(emulator.archives[0].url, u"second.zip"_s); // the last one read wins
    EXPECT_EQ(emulator.archives[0].size, 12);
    EXPECT_EQ(emulator.archives[0].os, u"linux"_s);
    EXPECT_EQ(emulator.archives[1].size, 0);
    EXPECT_TRUE(parser.packages[1].archives.isEmpty());
    EXPECT_FALSE(parser.parse("<sdk-repository><remotePackage path='x'></sdk-repository>"));
    EXPECT_FALSE(parser.errorString().isEmpty());
}

TEST(RepositoryPlanTest, ChoosesTheNewestStableRevisionAndTheArchiveForThisComputer) {
    const auto emulator = [](const QString& name, const QString& revision, const QString& channel,
                             const QList<Archive>& archives) {
        return Package{u"emulator"_s, name, revision, channel, {}, archives};
    };
    const Package canary = emulator(u"Canary"_s, u"36.0.0"_s, u"channel-3"_s, {hostArchive(u"canary.zip"_s)});
    const Package stable = emulator(u"Stable"_s, u"35.0.2"_s, u"channel-0"_s, {hostArchive(u"stable.zip"_s)});
    const Package ten = emulator(u"Ten"_s, u"35.0.10"_s, {}, {hostArchive(u"ten.zip"_s)});
    const Package twin = emulator(u"Twin"_s, u"35.0.10"_s, {}, {hostArchive(u"twin.zip"_s)});
    const QString otherOS = host.repositoryOS == "linux"_L1 ? u"macosx"_s : u"linux"_s;
    Package foreign = emulator(u"Emulator"_s, u"35.0.2"_s, u"channel-0"_s,
                               {{u"win.zip"_s, 1, u"a"_s, u"windows"_s},
                                {u"other.zip"_s, 1, u"a"_s, otherOS},
                                {u"wrong-arch.zip"_s, 1, u"a"_s, host.repositoryOS, u"riscv"_s}});
    const QString missing = RuntimeProvisionError::missingPackage(u"emulator"_s).description();
    const std::pair<QList<Package>, QString> cases[] = {
        {{canary, stable}, u"Stable stable.zip"_s},
        {{stable, ten, twin}, u"Ten ten.zip"_s}, // numeric, not text order; the earlier of equal revisions
        {{foreign},
         u"Google's package list has no download for emulator on "_s +
             (host.repositoryOS == "macosx"_L1 ? u"Apple Silicon"_s : u"Linux "_s + host.systemImageABI)},
        {{emulator({}, u"35.0.2"_s, {}, {hostArchive(u"http://[bad"_s)})}, missing},
        {{}, missing},
    };
    for (const auto& [packages, expected] : cases)
        EXPECT_EQ(chosen(packages), expected);
    foreign.archives.append({u"any.zip"_s, 1, u"a"_s});
    EXPECT_EQ(chosen({foreign}), u"Emulator any.zip"_s);
    foreign.archives.append(hostArchive(u"native.zip"_s));
    EXPECT_EQ(chosen({foreign}), u"Emulator native.zip"_s);
    EXPECT_EQ(std::get<RuntimePlan>(planOf({ten})).archives.value(0).revision, u"35.0.10"_s);
}

TEST(RepositoryPlanTest, WantsOnlyTheSystemImageWhenToolsArePresent) {
    ScopedSettings settings;
    QTemporaryDir home;
    const ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    std::optional<ScopedEnvironment> mirror{std::in_place, "VANTLE_SDK_REPOSITORY",
                                            u"http://127.0.0.1:9/mirror"_s};
    EXPECT_EQ(RuntimeRepository::wanted().size(), 3);
    const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(35);
    for (const QString& tool : {paths.adb(), paths.emulator()})
        ASSERT_TRUE(writeFile(tool, {}, true));
    const auto wanted = RuntimeRepository::wanted();
    ASSERT_EQ(wanted.size(), 1);
    EXPECT_EQ(wanted[0].packagePath, u"system-images;android-35;default;"_s + host.systemImageABI);
    EXPECT_EQ(wanted[0].indexURL.toString(), u"http://127.0.0.1:9/mirror/sys-img/android/sys-img2-3.xml"_s);
    mirror.reset();
    EXPECT_EQ(RuntimeRepository::base().toString(), u"https://dl.google.com/android/repository/"_s);
}

LoopbackHttpServer::Answer redirect(int status, const QUrl& to) {
    return {status, {}, -1, -1, false, to.toEncoded()};
}

TEST(SecureTransportTest, DownloadsAndListsFollowSafeRedirectsResumeThroughThemAndRefuseTheRest) {
    QTemporaryDir dir;
    const LoopbackHttpServer::Tls& tls = LoopbackHttpServer::selfSigned();
    LoopbackHttpServer secure{tls}, cdn{tls}, plain;
    const auto restore = qScopeGuard([saved = QSslConfiguration::defaultConfiguration()] {
        QSslConfiguration::setDefaultConfiguration(saved);
    });
    const QString destination = dir.filePath(u"archive.zip"_s);
    QList<qint64> totals; // the sizes the progress reports expected
    // What arrived at the destination (then removed), or the error text of a failed download.
    const auto download = [&](const QUrl& url) {
        DownloadDelegate delegate(
            destination,
            [&](qint64, qint64 total) {
                totals.append(total);
                plain.release(); // the rest of a body held back below, once its start has been seen
            },
            TransferPolicy::standardStallLimit);
        try {
            Coroutines::waitFor(delegate.run(url));
        } catch (const RuntimeProvisionError& error) {
            EXPECT_FALSE(QFile::exists(destination));
            return error.description();
        }
        EXPECT_FALSE(QFileInfo::exists(DownloadDelegate::partialPath(destination)));
        const QString contents = QString::fromUtf8(readFile(destination));
        QFile::remove(destination);
        return contents;
    };
    secure.serve("/a.zip", {200, "archive bytes"});
    EXPECT_TRUE(download(secure.url(u"/a.zip"_s)).startsWith(u"Download failed: "_s)); // not trusted yet

    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificate(tls.certificate); // as a system CA would be; verification stays on
    QSslConfiguration::setDefaultConfiguration(trusting);
    cdn.serve("/a.zip", {200, "archive bytes", -1, -1, true});
    EXPECT_EQ(download(cdn.url(u"/a.zip"_s)), u"archive bytes"_s);
    for (const int status : {301, 302, 303, 307, 308}) {
        secure.serve("/moved.zip", redirect(status, cdn.url(u"/a.zip"_s)));
        EXPECT_EQ(download(secure.url(u"/moved.zip"_s)), u"archive bytes"_s) << status;
    }
    // A kept part is resumed at the redirect's target.
    ASSERT_TRUE(writeFile(DownloadDelegate::partialPath(destination), "archive "));
    cdn.requests.clear();
    EXPECT_EQ(download(secure.url(u"/moved.zip"_s)), u"archive bytes"_s);
    ASSERT_EQ(cdn.requests.size(), 1);
    EXPECT_EQ(cdn.requests.first().range, "bytes=8-");

    plain.serve("/a.zip", {200, "served in the clear"});
    secure.serve("/a.zip", redirect(302, plain.url(u"/a.zip"_s)));
    EXPECT_EQ(download(secure.url(u"/a.zip"_s)),
              u"Download failed: refused a redirect from HTTPS to plain HTTP"_s);
    EXPECT_TRUE(plain.requests.isEmpty());

    // No Content-Length, and the body in two parts.
    plain.serve("/unsized.zip", {200, "body without length", -1, 5, false, {}, false, true});
    totals.clear();
    EXPECT_EQ(download(plain.url(u"/unsized.zip"_s)), u"body without length"_s);
    EXPECT_EQ(totals.value(0), -1); // unknown

    // Lists take the same road: repository2-3.xml redirected to the CDN and cut short there (the
    // parser's reason is given), then, read whole, the system images redirected to plain HTTP.
    ScopedSettings settings;
    const ScopedEnvironment home("VANTLE_HOME", dir.filePath(u"home"_s));
    const ScopedEnvironment repository("VANTLE_SDK_REPOSITORY",
                                       secure.url(u"/android/repository/"_s).toString());
    const auto plan = [] {
        try {
            Coroutines::waitFor(RuntimeRepository::plan(TransferPolicy::standardStallLimit));
        } catch (const RuntimeProvisionError& error) {
            return error.description();
        }
        return u"(planned)"_s;
    };
    secure.serve("/android/repository/repository2-3.xml",
                 redirect(301, cdn.url(u"/lists/repository2-3.xml"_s)));
    cdn.serve("/lists/repository2-3.xml", {200, "<sdk:sdk-repository><remotePackage"});
    const QString unreadable = plan();
    EXPECT_TRUE(unreadable.startsWith(u"Could not read Google's Android package list: "_s))
        << unreadable.toStdString();
    EXPECT_NE(unreadable,
              u"Could not read Google's Android package list: parse error"_s); // the parser's reason
    cdn.serve("/lists/repository2-3.xml", {200, RepositoryFixtures::list({}, {}, false)});
    secure.serve("/android/repository/sys-img/android/sys-img2-3.xml",
                 redirect(302, plain.url(u"/lists/sys-img2-3.xml"_s)));
    plain.requests.clear();
    EXPECT_EQ(plan(), u"Could not read Google's Android package list: refused a redirect from HTTPS to plain "
                      u"HTTP for sys-img2-3.xml"_s);
    EXPECT_TRUE(plain.requests.isEmpty());
}

} // namespace
