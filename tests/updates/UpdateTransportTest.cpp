// How updates travel: HTTPS with certificate checks on, redirects that stay on HTTPS followed, a
// redirect down to plain HTTP refused before anything is fetched from there, answers that are
// not whole or not 200 never kept.
#include "updates/UpdateTransport.h"

#include "LoopbackHttpServer.h"
#include "core/WaitFor.h"
#include "platform/ChildProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// A self-signed certificate for 127.0.0.1 made by the openssl tool, trusted as a system CA would
// be while the object lives; verification stays on.
struct TrustedCertificate {
    QTemporaryDir dir;
    LoopbackHttpServer::Tls tls;
    QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    TrustedCertificate() {
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
        EXPECT_EQ(openssl.run().exitCode, 0);
        QFile cert(dir.filePath(u"cert.pem"_s)), key(dir.filePath(u"key.pem"_s));
        EXPECT_TRUE(cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));
        tls = {QSslCertificate(cert.readAll(), QSsl::Pem), QSslKey(key.readAll(), QSsl::Rsa, QSsl::Pem)};
        QSslConfiguration trusting = saved;
        trusting.addCaCertificate(tls.certificate);
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    ~TrustedCertificate() { QSslConfiguration::setDefaultConfiguration(saved); }
};

class UpdateTransportTest : public ::testing::Test {
protected:
    TrustedCertificate certificate;
    LoopbackHttpServer secure{certificate.tls};
    LoopbackHttpServer plain;
    QTemporaryDir dir;
    QString target = dir.filePath(u"x.apk"_s);
    UpdateTransport transport;

    UpdateTransport::Download download(const QString& path) {
        return Coroutines::waitFor(transport.download(secure.url(path), target));
    }
};

TEST_F(UpdateTransportTest, ARedirectDownToPlainHttpIsRefused) {
    plain.serve("/repo/a.b_2.apk", {200, "APK bytes"});
    secure.serve("/repo/a.b_2.apk", {302, {}, -1, -1, false, plain.url(u"/repo/a.b_2.apk"_s).toEncoded()});
    const UpdateTransport::Download refused = download(u"/repo/a.b_2.apk"_s);
    EXPECT_EQ(refused.outcome, UpdateTransport::Download::Outcome::failed);
    EXPECT_EQ(refused.error, u"refused a redirect from HTTPS to plain HTTP"_s);
    EXPECT_TRUE(plain.requests.isEmpty());
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(Coroutines::waitFor(transport.fetch(secure.url(u"/repo/a.b_2.apk"_s))), std::nullopt);
    EXPECT_TRUE(plain.requests.isEmpty());
}

TEST_F(UpdateTransportTest, RedirectsThatStaySecureAreFollowed) {
    secure.serve("/mirror/a.b_2.apk", {200, "APK bytes"});
    secure.serve("/repo/a.b_2.apk", {302, {}, -1, -1, false, secure.url(u"/mirror/a.b_2.apk"_s).toEncoded()});
    EXPECT_EQ(download(u"/repo/a.b_2.apk"_s).outcome, UpdateTransport::Download::Outcome::saved);
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "APK bytes");
    secure.serve("/api", {200, R"({"suggestedVersionCode":2})"});
    EXPECT_EQ(Coroutines::waitFor(transport.fetch(secure.url(u"/api"_s))),
              QByteArray(R"({"suggestedVersionCode":2})"));
}

TEST_F(UpdateTransportTest, OnlyWholeAnswersOfStatus200AreKept) {
    secure.serve("/cut", {200, QByteArray(5000, 'x'), 1000});
    const UpdateTransport::Download cut = download(u"/cut"_s);
    EXPECT_EQ(cut.outcome, UpdateTransport::Download::Outcome::failed);
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(download(u"/missing"_s).outcome, UpdateTransport::Download::Outcome::notOk);
    EXPECT_FALSE(QFile::exists(target));
    secure.serve("/huge", {200, QByteArray(UpdateTransport::maxAnswerBytes + 1, ' ')});
    EXPECT_EQ(Coroutines::waitFor(transport.fetch(secure.url(u"/huge"_s))), std::nullopt);
    EXPECT_EQ(Coroutines::waitFor(transport.fetch(secure.url(u"/missing"_s))), std::nullopt);
}

} // namespace
