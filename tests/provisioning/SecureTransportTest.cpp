// Lists and downloads over HTTPS keep certificate checks on, follow redirects that stay on HTTPS
// (mirrors, CDNs) and never follow one to plain HTTP.
#include "LoopbackHttpServer.h"
#include "RepositoryFixtures.h"
#include "core/WaitFor.h"
#include "platform/ChildProcess.h"
#include "provisioning/DownloadDelegate.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/RuntimeRepository.h"
#include "provisioning/TransferPolicy.h"
#include "runtime/HostDescription.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A self-signed certificate for 127.0.0.1, made by the openssl tool for this run.
LoopbackHttpServer::Tls makeCertificate(const QTemporaryDir& dir) {
    ChildProcess openssl;
    openssl.program = u"/usr/bin/openssl"_s;
    openssl.arguments = {u"req"_s,
                         u"-x509"_s,
                         u"-newkey"_s,
                         u"rsa:2048"_s,
                         u"-nodes"_s,
                         u"-days"_s,
                         u"1"_s,
                         u"-subj"_s,
                         u"/CN=127.0.0.1"_s,
                         u"-addext"_s,
                         u"subjectAltName=IP:127.0.0.1"_s,
                         u"-keyout"_s,
                         dir.filePath(u"key.pem"_s),
                         u"-out"_s,
                         dir.filePath(u"cert.pem"_s)};
    openssl.standardError = ChildProcess::Output::capture;
    const ChildProcess::Result made = openssl.run();
    EXPECT_EQ(made.exitCode, 0) << made.standardError.toStdString();
    QFile cert(dir.filePath(u"cert.pem"_s)), key(dir.filePath(u"key.pem"_s));
    EXPECT_TRUE(cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));
    return {QSslCertificate(cert.readAll(), QSsl::Pem), QSslKey(key.readAll(), QSsl::Rsa, QSsl::Pem)};
}

class SecureTransportTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    LoopbackHttpServer::Tls tls = makeCertificate(dir);
    LoopbackHttpServer secure{tls};
    LoopbackHttpServer plain;
    const QSslConfiguration savedDefault = QSslConfiguration::defaultConfiguration();
    const QString destination = dir.filePath(u"archive.zip"_s);

    void TearDown() override { QSslConfiguration::setDefaultConfiguration(savedDefault); }

    // Trusts the test certificate the way a system CA would be trusted; verification stays on.
    void trustTestCertificate() {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(tls.certificate);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
    // The error text of a failed download, or nothing when it succeeded.
    std::optional<QString> download(const QUrl& url) {
        DownloadDelegate delegate(
            destination, [](qint64, qint64) {}, TransferPolicy::standardStallLimit);
        try {
            Coroutines::waitFor(delegate.run(url));
            return std::nullopt;
        } catch (const RuntimeProvisionError& error) {
            return error.description();
        }
    }
};

} // namespace

TEST_F(SecureTransportTest, DownloadsOverTrustedTlsAndFollowsSafeRedirects) {
    trustTestCertificate();
    secure.serve("/a.zip", {200, "archive bytes"});
    secure.serve("/moved.zip", {302, {}, -1, -1, false, secure.url(u"/a.zip"_s).toEncoded()});

    EXPECT_EQ(download(secure.url(u"/a.zip"_s)), std::nullopt);
    QFile::remove(destination);
    EXPECT_EQ(download(secure.url(u"/moved.zip"_s)), std::nullopt);
    QFile file(destination);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "archive bytes");
}

TEST_F(SecureTransportTest, AnUntrustedCertificateFailsTheDownload) {
    secure.serve("/a.zip", {200, "archive bytes"});
    const std::optional<QString> failure = download(secure.url(u"/a.zip"_s));
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->startsWith(u"Download failed: "_s)) << failure->toStdString();
    EXPECT_FALSE(QFile::exists(destination));
}

TEST_F(SecureTransportTest, ARedirectToPlainHttpIsRefused) {
    trustTestCertificate();
    plain.serve("/a.zip", {200, "served in the clear"});
    secure.serve("/a.zip", {302, {}, -1, -1, false, plain.url(u"/a.zip"_s).toEncoded()});

    const std::optional<QString> failure = download(secure.url(u"/a.zip"_s));
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, u"Download failed: refused a redirect from HTTPS to plain HTTP"_s);
    EXPECT_TRUE(plain.requests.isEmpty()) << failure->toStdString();
    EXPECT_FALSE(QFile::exists(destination));
}

TEST_F(SecureTransportTest, DownloadsFollowEveryKindOfSafeRedirectAndResumeThroughThem) {
    trustTestCertificate();
    LoopbackHttpServer cdn{tls};
    cdn.serve("/a.zip", {200, "archive bytes", -1, -1, true});
    const auto contents = [&] {
        QFile file(destination);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    };
    for (const int status : {301, 302, 303, 307, 308}) {
        secure.serve("/moved.zip", {status, {}, -1, -1, false, cdn.url(u"/a.zip"_s).toEncoded()});
        QFile::remove(destination);
        EXPECT_EQ(download(secure.url(u"/moved.zip"_s)), std::nullopt) << status;
        EXPECT_EQ(contents(), "archive bytes") << status;
    }

    // A kept part is resumed at the redirect's target.
    QFile partial(DownloadDelegate::partialPath(destination));
    ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
    partial.write("archive ");
    partial.close();
    cdn.requests.clear();
    EXPECT_EQ(download(secure.url(u"/moved.zip"_s)), std::nullopt);
    EXPECT_EQ(contents(), "archive bytes");
    ASSERT_EQ(cdn.requests.size(), 1);
    EXPECT_EQ(cdn.requests.first().range, "bytes=8-");
}

TEST_F(SecureTransportTest, ListsFollowSafeRedirectsAndRefusePlainHttp) {
    trustTestCertificate();
    ScopedSettings settings;
    const QByteArray savedHome = qgetenv("VANTLE_HOME");
    qputenv("VANTLE_HOME", dir.filePath(u"home"_s).toUtf8());
    qputenv("VANTLE_SDK_REPOSITORY", secure.url(u"/android/repository/"_s).toEncoded());
    const HostDescription& host = HostDescription::current();
    const auto package = [&](const QString& path, const QString& url) {
        return RepositoryFixtures::Package{path, {}, u"35.0.2"_s,
                                           {},   {}, {{url, 1, u"00"_s, host.repositoryOS, {}}}};
    };
    const QString image = u"system-images;android-35;default;"_s + host.systemImageABI;
    const QByteArray tools = RepositoryFixtures::list(
        {package(u"platform-tools"_s, u"pt.zip"_s), package(u"emulator"_s, u"em.zip"_s)}, {}, false);
    const QByteArray images = RepositoryFixtures::list({package(image, u"img.zip"_s)}, {}, true);
    LoopbackHttpServer cdn{tls};
    cdn.serve("/lists/repository2-3.xml", {200, tools});
    cdn.serve("/lists/sys-img2-3.xml", {200, images});
    plain.serve("/lists/sys-img2-3.xml", {200, images});
    const auto redirect = [](int status, const QUrl& to) {
        return LoopbackHttpServer::Answer{status, {}, -1, -1, false, to.toEncoded()};
    };
    const auto plan = [] {
        try {
            return Coroutines::waitFor(RuntimeRepository::plan(TransferPolicy::standardStallLimit))
                .archives.size();
        } catch (const RuntimeProvisionError& error) {
            ADD_FAILURE() << error.description().toStdString();
            return qsizetype(-1);
        }
    };

    secure.serve("/android/repository/repository2-3.xml",
                 redirect(301, cdn.url(u"/lists/repository2-3.xml"_s)));
    secure.serve("/android/repository/sys-img/android/sys-img2-3.xml",
                 redirect(307, cdn.url(u"/lists/sys-img2-3.xml"_s)));
    EXPECT_EQ(plan(), 3);

    secure.serve("/android/repository/sys-img/android/sys-img2-3.xml",
                 redirect(302, plain.url(u"/lists/sys-img2-3.xml"_s)));
    try {
        Coroutines::waitFor(RuntimeRepository::plan(TransferPolicy::standardStallLimit));
        ADD_FAILURE() << "planned over plain HTTP";
    } catch (const RuntimeProvisionError& error) {
        EXPECT_EQ(error.description(),
                  u"Could not read Google's Android package list: refused a redirect from "
                  u"HTTPS to plain HTTP for sys-img2-3.xml"_s);
    }
    EXPECT_TRUE(plain.requests.isEmpty());
    qunsetenv("VANTLE_SDK_REPOSITORY");
    qputenv("VANTLE_HOME", savedHome);
}
