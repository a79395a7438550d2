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
        openssl.arguments = u"req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -addext "
                            u"subjectAltName=IP:127.0.0.1 -keyout"_s.split(u' ');
        openssl.arguments << dir.filePath(u"key.pem"_s) << u"-out"_s << dir.filePath(u"cert.pem"_s);
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

TEST(UpdateTransportTest, RedirectsAndWholeAnswers) {
    TrustedCertificate certificate;
    LoopbackHttpServer secure{certificate.tls}, plain;
    QTemporaryDir dir;
    const QString target = dir.filePath(u"x.apk"_s);
    UpdateTransport transport;
    const auto download = [&](const QString& path) {
        return Coroutines::waitFor(transport.download(secure.url(path), target));
    };
    const auto fetch = [&](const QString& path) {
        return Coroutines::waitFor(transport.fetch(secure.url(path)));
    };
    using Outcome = UpdateTransport::Download::Outcome;

    // A redirect down to plain HTTP is refused before anything is fetched from there.
    plain.serve("/repo/a.b_2.apk", {200, "APK bytes"});
    secure.serve("/repo/a.b_2.apk", {302, {}, -1, -1, false, plain.url(u"/repo/a.b_2.apk"_s).toEncoded()});
    const UpdateTransport::Download refused = download(u"/repo/a.b_2.apk"_s);
    EXPECT_EQ(refused.outcome, Outcome::failed);
    EXPECT_EQ(refused.error, u"refused a redirect from HTTPS to plain HTTP"_s);
    EXPECT_EQ(fetch(u"/repo/a.b_2.apk"_s), std::nullopt);
    EXPECT_TRUE(plain.requests.isEmpty());
    EXPECT_FALSE(QFile::exists(target));

    // Redirects that stay on HTTPS are followed.
    secure.serve("/mirror/a.b_2.apk", {200, "APK bytes"});
    secure.serve("/repo/a.b_2.apk", {302, {}, -1, -1, false, secure.url(u"/mirror/a.b_2.apk"_s).toEncoded()});
    EXPECT_EQ(download(u"/repo/a.b_2.apk"_s).outcome, Outcome::saved);
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "APK bytes");
    ASSERT_TRUE(QFile::remove(target));
    secure.serve("/api", {200, R"({"suggestedVersionCode":2})"});
    EXPECT_EQ(fetch(u"/api"_s), QByteArray(R"({"suggestedVersionCode":2})"));

    // Only whole answers of status 200 are kept.
    secure.serve("/cut", {200, QByteArray(5000, 'x'), 1000});
    EXPECT_EQ(download(u"/cut"_s).outcome, Outcome::failed);
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(download(u"/missing"_s).outcome, Outcome::notOk);
    EXPECT_FALSE(QFile::exists(target));
    secure.serve("/huge", {200, QByteArray(UpdateTransport::maxAnswerBytes + 1, ' ')});
    EXPECT_EQ(fetch(u"/huge"_s), std::nullopt);
    EXPECT_EQ(fetch(u"/missing"_s), std::nullopt);
}

} // namespace
