// Downloads and lists over HTTP(S): certificates are checked, redirects that stay on HTTPS (mirrors,
// CDNs) are followed and one to plain HTTP never is; a body without a length is read to its end.
#include "RepositoryFixtures.h"
#include "core/WaitFor.h"
#include "provisioning/DownloadDelegate.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/RuntimeRepository.h"
#include "provisioning/TransferPolicy.h"
#include "support/DeviceFiles.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestSupport.h"

#include <QScopeGuard>
#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

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
