// Downloads over HTTPS keep certificate checks on and never follow a redirect to plain HTTP.
#include "LoopbackHttpServer.h"
#include "core/WaitFor.h"
#include "platform/ChildProcess.h"
#include "provisioning/DownloadDelegate.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/TransferPolicy.h"
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
    EXPECT_TRUE(failure->startsWith(u"Download failed: "_s)) << failure->toStdString();
    EXPECT_TRUE(plain.requests.isEmpty()) << failure->toStdString();
    EXPECT_FALSE(QFile::exists(destination));
}
