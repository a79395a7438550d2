// Finding and verifying the display-bridge files.
#include "provisioning/RuntimeComponentLocator.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Source = AndroidBridgeComponents::Source;

namespace {

QString hex(const QByteArray& data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

class ComponentLocatorTest : public ::testing::Test {
protected:
    QTemporaryDir contents;
    const QString server = u"Resources/AndroidBridge/server/scrcpy-server"_s;
    const QString client = u"Helpers/AndroidBridge/bin/scrcpy"_s;

    ScopedEnvironment bundle{"VANTLE_BUNDLE", contents.path()};

    void SetUp() override {
        RuntimeComponentLocator::clearCache();
        RuntimeComponentLocator::setDevelopmentScrcpyCandidates({contents.filePath(u"none/bin/scrcpy"_s)});
    }
    void TearDown() override { RuntimeComponentLocator::clearCache(); }
    void writeManifest(const QByteArray& text) {
        writeFile(contents.filePath(u"Resources/AndroidBridge/runtime-manifest.json"_s), text);
    }
    void writeBundle(bool upperCase = false) {
        writeFile(contents.filePath(server), "server jar");
        writeFile(contents.filePath(client), "#!/bin/sh\n", true);
        const QString serverHash = upperCase ? hex("server jar").toUpper() : hex("server jar");
        writeManifest("{\"bridgeVersion\":\"5.0.1\",\"components\":[{\"path\":\"" + server.toUtf8() +
                      "\",\"sha256\":\"" + serverHash.toUtf8() + "\"},{\"path\":\"" + client.toUtf8() +
                      "\",\"sha256\":\"" + hex("#!/bin/sh\n").toUtf8() + "\"}]}");
    }
    static QString failure() {
        return thrownDescription<AndroidBridgeError>([] { RuntimeComponentLocator::androidBridge(); });
    }
};

} // namespace

TEST_F(ComponentLocatorTest, VerifiesTheBundleOnceAndCachesIt) {
    writeBundle(true);
    const AndroidBridgeComponents components = RuntimeComponentLocator::androidBridge();
    EXPECT_EQ(components.source, Source::bundled);
    EXPECT_EQ(components.version, u"5.0.1"_s);
    EXPECT_EQ(components.server, contents.filePath(server));
    EXPECT_EQ(components.scrcpy, contents.filePath(client));
    EXPECT_FALSE(components.iconDirectory);
    writeFile(contents.filePath(server), "changed"); // not read again
    EXPECT_EQ(RuntimeComponentLocator::androidBridge(), components);
    RuntimeComponentLocator::clearCache();
    EXPECT_EQ(failure(),
              u"Vantle's Android bridge failed its integrity check ("_s + server + u"). Reinstall Vantle."_s);
    EXPECT_EQ(failure(),
              u"Vantle's Android bridge failed its integrity check ("_s + server + u"). Reinstall Vantle."_s);
}

TEST_F(ComponentLocatorTest, ReportsMissingFilesAndBadManifests) {
    writeBundle();
    QFile::remove(contents.filePath(client));
    EXPECT_EQ(failure(),
              u"Vantle's Android bridge is incomplete ("_s + client + u" is missing). Reinstall Vantle."_s);
    writeManifest("{\"components\": [");
    EXPECT_TRUE(failure().startsWith(u"Vantle's Android bridge manifest could not be read: "_s));
    writeManifest("{\"bridgeVersion\":\"5\"}");
    EXPECT_TRUE(failure().startsWith(u"Vantle's Android bridge manifest could not be read: "_s));
    // Only the server itself is required besides the listed files.
    writeManifest("{\"components\": []}");
    QFile::remove(contents.filePath(server));
    EXPECT_EQ(
        failure(),
        u"Vantle's Android bridge is incomplete (server/scrcpy-server is missing). Reinstall Vantle."_s);
    // Helpers without a manifest: a broken bundle, not a development build.
    QFile::remove(contents.filePath(u"Resources/AndroidBridge/runtime-manifest.json"_s));
    EXPECT_TRUE(RuntimeComponentLocator::hasBundledBridge());
    EXPECT_EQ(
        failure(),
        u"Vantle's Android bridge is incomplete (runtime-manifest.json is missing). Reinstall Vantle."_s);
}

TEST_F(ComponentLocatorTest, FallsBackToAnInstalledClient) {
    EXPECT_FALSE(RuntimeComponentLocator::hasBundledBridge());
    EXPECT_EQ(failure(), u"Vantle's Android bridge is incomplete (scrcpy is missing). Reinstall Vantle."_s);

    QTemporaryDir other;
    writeFile(other.filePath(u"scrcpy/3.1/bin/scrcpy"_s), "#!/bin/sh\n", true);
    QDir().mkpath(other.filePath(u"bin"_s));
    QFile::link(other.filePath(u"scrcpy/3.1/bin/scrcpy"_s), other.filePath(u"bin/scrcpy"_s));
    RuntimeComponentLocator::setDevelopmentScrcpyCandidates(
        {contents.filePath(u"none"_s), other.filePath(u"bin/scrcpy"_s)});
    const AndroidBridgeComponents components = RuntimeComponentLocator::androidBridge();
    EXPECT_EQ(components.source, Source::development);
    EXPECT_EQ(components.scrcpy, other.filePath(u"bin/scrcpy"_s)); // as given, not resolved
    EXPECT_EQ(components.version, u"3.1"_s);
    EXPECT_EQ(components.server, QFileInfo(other.filePath(u"scrcpy/3.1"_s)).canonicalFilePath() +
                                     u"/share/scrcpy/scrcpy-server"_s);
}

TEST_F(ComponentLocatorTest, TheBuildTreeCarriesAVerifiableBridge) {
    qputenv("VANTLE_BUNDLE", QByteArray(VANTLE_BUILD_BRIDGE));
    const AndroidBridgeComponents components = RuntimeComponentLocator::verifiedBundledBridge();
    EXPECT_EQ(components.source, Source::bundled);
    EXPECT_TRUE(components.version.has_value());
    EXPECT_GT(QFileInfo(components.server).size(), 0);
}

// Where each layout's executables look for the contents folder: an install's share/vantle wins
// over a build tree's bridge folder; VANTLE_BUNDLE is not consulted here.
TEST(ComponentLocatorLayoutTest, ContentsFolderFollowsTheExecutablesLayout) {
    struct Case {
        const char* name;
        QStringList folders;     // made below a temporary root
        const char* executables; // where the programs are
        const char* expected;    // contents folder, relative to the root
    };
    const Case cases[] = {
        {"installed prefix", {u"bin"_s, u"share/vantle/Resources/AndroidBridge"_s}, "bin", "share/vantle"},
        {"build tree", {u"app"_s, u"bridge/Resources/AndroidBridge"_s}, "app", "bridge"},
        {"prefix without Vantle's data", {u"bin"_s, u"share/other"_s}, "bin", "bridge"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        for (const QString& folder : c.folders)
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
        EXPECT_EQ(RuntimeComponentLocator::contentsFolderFor(root.filePath(QLatin1StringView(c.executables))),
                  root.filePath(QLatin1StringView(c.expected)));
    }
}
