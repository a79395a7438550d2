// Finding and verifying the display-bridge files.
#include "provisioning/RuntimeComponentLocator.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Source = AndroidBridgeComponents::Source;

namespace {

QString failure() {
    return thrownDescription<AndroidBridgeError>([] { RuntimeComponentLocator::androidBridge(); });
}
QString incomplete(const QString& missing) {
    return u"Vantle's Android bridge is incomplete ("_s + missing + u" is missing). Reinstall Vantle."_s;
}

TEST(ComponentLocatorTest, VerifiesTheBundleOnceOrFallsBackToAnInstalledClient) {
    QTemporaryDir contents;
    const ScopedEnvironment bundle{"VANTLE_BUNDLE", contents.path()};
    RuntimeComponentLocator::clearCache();
    RuntimeComponentLocator::setDevelopmentScrcpyCandidates({contents.filePath(u"none/bin/scrcpy"_s)});
    EXPECT_FALSE(RuntimeComponentLocator::hasBundledBridge());
    EXPECT_EQ(failure(), incomplete(u"scrcpy"_s));

    const QString server = u"Resources/AndroidBridge/server/scrcpy-server"_s;
    const QString client = u"Helpers/AndroidBridge/bin/scrcpy"_s;
    const auto manifest = [&](const QByteArray& text) {
        writeFile(contents.filePath(u"Resources/AndroidBridge/runtime-manifest.json"_s), text);
    };
    const auto sha256 = [](const QByteArray& data) {
        return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    };
    writeFile(contents.filePath(server), "server jar");
    writeFile(contents.filePath(client), "#!/bin/sh\n", true);
    manifest("{\"bridgeVersion\":\"5.0.1\",\"components\":[{\"path\":\"" + server.toUtf8() +
             "\",\"sha256\":\"" + sha256("server jar").toUpper() + "\"},{\"path\":\"" + client.toUtf8() +
             "\",\"sha256\":\"" + sha256("#!/bin/sh\n") + "\"}]}");
    const AndroidBridgeComponents components = RuntimeComponentLocator::androidBridge();
    EXPECT_EQ(components, (AndroidBridgeComponents{.scrcpy = contents.filePath(client),
                                                   .server = contents.filePath(server),
                                                   .iconDirectory = std::nullopt,
                                                   .version = u"5.0.1"_s}));
    writeFile(contents.filePath(server), "changed"); // not read again
    EXPECT_EQ(RuntimeComponentLocator::androidBridge(), components);
    RuntimeComponentLocator::clearCache();
    for (int twice = 0; twice < 2; ++twice)
        EXPECT_EQ(failure(), u"Vantle's Android bridge failed its integrity check ("_s + server +
                                 u"). Reinstall Vantle."_s);

    writeFile(contents.filePath(server), "server jar");
    QFile::remove(contents.filePath(client));
    EXPECT_EQ(failure(), incomplete(client));
    for (const QByteArray& bad :
         {QByteArray("{\"components\": ["), QByteArray("{\"bridgeVersion\":\"5\"}")}) {
        manifest(bad);
        EXPECT_TRUE(failure().startsWith(u"Vantle's Android bridge manifest could not be read: "_s))
            << bad.data();
    }
    // Only the server itself is required besides the listed files.
    manifest("{\"components\": []}");
    QFile::remove(contents.filePath(server));
    EXPECT_EQ(failure(), incomplete(u"server/scrcpy-server"_s));
    // Helpers without a manifest: a broken bundle, not a development build.
    QFile::remove(contents.filePath(u"Resources/AndroidBridge/runtime-manifest.json"_s));
    EXPECT_TRUE(RuntimeComponentLocator::hasBundledBridge());
    EXPECT_EQ(failure(), incomplete(u"runtime-manifest.json"_s));

    QDir(contents.path()).removeRecursively();
    QTemporaryDir other;
    writeFile(other.filePath(u"scrcpy/3.1/bin/scrcpy"_s), "#!/bin/sh\n", true);
    QDir().mkpath(other.filePath(u"bin"_s));
    QFile::link(other.filePath(u"scrcpy/3.1/bin/scrcpy"_s), other.filePath(u"bin/scrcpy"_s));
    RuntimeComponentLocator::setDevelopmentScrcpyCandidates(
        {contents.filePath(u"none"_s), other.filePath(u"bin/scrcpy"_s)});
    AndroidBridgeComponents found = RuntimeComponentLocator::androidBridge();
    found.iconDirectory.reset(); // where its icons are is not this test's concern
    EXPECT_EQ(
        found,
        (AndroidBridgeComponents{.scrcpy = other.filePath(u"bin/scrcpy"_s), // as given, not resolved
                                 .server = QFileInfo(other.filePath(u"scrcpy/3.1"_s)).canonicalFilePath() +
                                           u"/share/scrcpy/scrcpy-server"_s,
                                 .iconDirectory = std::nullopt,
                                 .source = Source::development,
                                 .version = u"3.1"_s}));
    RuntimeComponentLocator::clearCache();
}

// Where each layout's executables look for the contents folder: an install's share/vantle wins
// over a build tree's bridge folder; VANTLE_BUNDLE is not consulted here.
TEST(ComponentLocatorTest, ContentsFolderFollowsTheExecutablesLayout) {
    const struct {
        QStringList folders;     // made below a temporary root
        const char* executables; // where the programs are
        const char* expected;    // contents folder, relative to the root
    } cases[] = {
        {{u"bin"_s, u"share/vantle/Resources/AndroidBridge"_s}, "bin", "share/vantle"}, // installed prefix
        {{u"app"_s, u"bridge/Resources/AndroidBridge"_s}, "app", "bridge"},             // build tree
        {{u"bin"_s, u"share/other"_s}, "bin", "bridge"}, // prefix without Vantle's data
    };
    for (const auto& c : cases) {
        QTemporaryDir root;
        for (const QString& folder : c.folders)
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
        EXPECT_EQ(RuntimeComponentLocator::contentsFolderFor(root.filePath(QLatin1StringView(c.executables))),
                  root.filePath(QLatin1StringView(c.expected)));
    }
}

} // namespace
