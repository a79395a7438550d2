// Downloads and lists over HTTP(S): certificates are checked, redirects that stay on HTTPS (mirrors,
// CDNs) are followed and one to plain HTTP never is; a body without a length is read to its end.
#include "LoopbackHttpServer.h"
#include "RepositoryFixtures.h"
#include "core/WaitFor.h"
#include "provisioning/DownloadDelegate.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/RuntimeRepository.h"
#include "provisioning/TransferPolicy.h"
#include "runtime/HostDescription.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A self-signed certificate for 127.0.0.1, made by the openssl tool for this run.
LoopbackHttpServer::Tls makeCertificate(const QTemporaryDir& dir) {
    const QStringList arguments = u"req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -addext "
                                  u"subjectAltName=IP:127.0.0.1 -keyout key.pem -out cert.pem"_s.split(u' ');
    QProcess openssl;
    openssl.setWorkingDirectory(dir.path());
    openssl.start(u"/usr/bin/openssl"_s, arguments);
    EXPECT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0)
        << openssl.readAllStandardError().data();
    return {QSslCertificate(readFile(dir.filePath(u"cert.pem"_s)), QSsl::Pem),
            QSslKey(readFile(dir.filePath(u"key.pem"_s)), QSsl::Rsa, QSsl::Pem)};
}

LoopbackHttpServer::Answer redirect(int status, const QUrl& to) {
    return {status, {}, -1, -1, false, to.toEncoded()};
}

TEST(SecureTransportTest, DownloadsAndListsFollowSafeRedirectsResumeThroughThemAndRefuseTheRest) {
    QTemporaryDir dir;
    const LoopbackHttpServer::Tls tls = makeCertificate(dir);
    LoopbackHttpServer secure{tls}, cdn{tls}, plain;
    const auto restore = qScopeGuard([saved = QSslConfiguration::defaultConfiguration()] {
        QSslConfiguration::setDefaultConfiguration(saved);
    });
    const QString destination = dir.filePath(u"archive.zip"_s);
    QList<qint64> totals; // the sizes the progress reports expected
    // What arrived at the destination (then removed), or the error text of a failed download.
    const auto download = [&](const QUrl& url) {
        DownloadDelegate delegate(
            destination, [&](qint64, qint64 total) { totals.append(total); },
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

    // A raw server that sends no Content-Length, and the body in two parts.
    QTcpServer raw;
    ASSERT_TRUE(raw.listen(QHostAddress::LocalHost));
    QObject::connect(&raw, &QTcpServer::newConnection, &raw, [&raw] {
        QTcpSocket* socket = raw.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody ");
            QTimer::singleShot(300, socket, [socket] {
                socket->write("without length");
                socket->disconnectFromHost();
            });
        });
    });
    totals.clear();
    EXPECT_EQ(download(QUrl(u"http://127.0.0.1:%1/file.zip"_s.arg(raw.serverPort()))),
              u"body without length"_s);
    EXPECT_EQ(totals.value(0), -1); // unknown

    ScopedSettings settings;
    const ScopedEnvironment home("VANTLE_HOME", dir.filePath(u"home"_s));
    const ScopedEnvironment repository("VANTLE_SDK_REPOSITORY",
                                       secure.url(u"/android/repository/"_s).toString());
    const auto package = [](const QString& path, const QString& url) {
        return RepositoryFixtures::Package{
            .path = path, .archives = {{url, 1, u"00"_s, HostDescription::current().repositoryOS}}};
    };
    const QByteArray images = RepositoryFixtures::list(
        {package(u"system-images;android-35;default;"_s + HostDescription::current().systemImageABI,
                 u"img.zip"_s)},
        {}, true);
    cdn.serve("/lists/repository2-3.xml",
              {200, RepositoryFixtures::list(
                        {package(u"platform-tools"_s, u"pt.zip"_s), package(u"emulator"_s, u"em.zip"_s)}, {},
                        false)});
    cdn.serve("/lists/sys-img2-3.xml", {200, images});
    plain.serve("/lists/sys-img2-3.xml", {200, images});
    const auto plan = [] {
        try {
            return QString::number(
                Coroutines::waitFor(RuntimeRepository::plan(TransferPolicy::standardStallLimit))
                    .archives.size());
        } catch (const RuntimeProvisionError& error) {
            return error.description();
        }
    };
    secure.serve("/android/repository/repository2-3.xml",
                 redirect(301, cdn.url(u"/lists/repository2-3.xml"_s)));
    secure.serve("/android/repository/sys-img/android/sys-img2-3.xml",
                 redirect(307, cdn.url(u"/lists/sys-img2-3.xml"_s)));
    EXPECT_EQ(plan(), u"3"_s);
    cdn.serve("/lists/sys-img2-3.xml", {200, "<sys-img:sdk-sys-img><remotePackage"}); // cut short
    const QString unreadable = plan();
    EXPECT_TRUE(unreadable.startsWith(u"Could not read Google's Android package list: "_s))
        << unreadable.toStdString();
    EXPECT_NE(unreadable,
              u"Could not read Google's Android package list: parse error"_s); // the parser's reason

    secure.serve("/android/repository/sys-img/android/sys-img2-3.xml",
                 redirect(302, plain.url(u"/lists/sys-img2-3.xml"_s)));
    EXPECT_EQ(plan(), u"Could not read Google's Android package list: refused a redirect from HTTPS to plain "
                      u"HTTP for sys-img2-3.xml"_s);
    EXPECT_TRUE(plain.requests.isEmpty());
}

} // namespace
