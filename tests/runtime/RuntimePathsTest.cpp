#include "core/SettingsKeys.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A private Vantle home for each test, so that "current" sees only what the test lays out.
class RuntimePathsTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    QTemporaryDir home;
    const ScopedEnvironment vantleHome{"VANTLE_HOME", home.path()};

    // Lays out an installation step by step; each step makes one more check pass.
    static void layOut(const AndroidRuntimePaths& paths, int steps) {
        if (steps > 0) writeFile(paths.adb(), "#!/bin/sh\n", true);
        if (steps > 1) writeFile(paths.emulator(), "#!/bin/sh\n", true);
        if (steps > 2) writeFile(paths.systemImage(), "image");
        if (steps > 3 && paths.avdHome) writeFile(*paths.avdHome + u'/' + paths.avdName + u".ini"_s, "ini");
    }
    QString script(const QString& name, const QByteArray& body) {
        const QString path = home.filePath(name);
        EXPECT_TRUE(writeFile(path, "#!/bin/sh\n" + body, true));
        return path;
    }
};

TEST_F(RuntimePathsTest, CompletenessNeedsEveryPiece) {
    const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(34);
    for (int steps = 0; steps < 4; ++steps) {
        layOut(paths, steps);
        EXPECT_FALSE(paths.isComplete()) << steps << " steps";
    }
    layOut(paths, 4);
    EXPECT_TRUE(paths.isComplete());
    QFile(paths.emulator()).setPermissions(QFile::ReadOwner); // present but not executable
    EXPECT_FALSE(paths.isComplete());
}

TEST_F(RuntimePathsTest, CurrentFollowsTheSelectedLevel) {
    // Nothing installed, 35 selected: the developer SDK, incomplete.
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::developerSDK());
    EXPECT_FALSE(AndroidRuntimePaths::current().isComplete());

    VantleSettings::set(SettingsKeys::androidAPI, 34);
    EXPECT_EQ(AndroidRuntimePaths::current().avdName, u"Vantle-34"_s);
    EXPECT_FALSE(AndroidRuntimePaths::current().isComplete());

    for (qint64 unsupported : {29, 99}) {
        VantleSettings::set(SettingsKeys::androidAPI, unsupported);
        EXPECT_EQ(AndroidRuntimePaths::selectedAPI(), 35);
    }
    VantleSettings::set(SettingsKeys::androidAPI, u"34"_s); // not an integer: absent
    EXPECT_EQ(AndroidRuntimePaths::selectedAPI(), 35);

    layOut(AndroidRuntimePaths::managed(35), 4);
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::managed(35));

    // The developer SDK wins only when asked for and complete.
    VantleSettings::set(SettingsKeys::useDeveloperSDK, true);
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::managed(35));
    layOut(AndroidRuntimePaths::developerSDK(), 3);
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::developerSDK());
}

TEST_F(RuntimePathsTest, RunReportsToolsAndTheirFailures) {
    const auto description = [](const std::function<void()>& call) {
        return thrownDescription<AndroidRuntimeError>(call);
    };
    const QString notExecutable = home.filePath(u"adb"_s);
    ASSERT_TRUE(writeFile(notExecutable, "#!/bin/sh\n"));
    // A temporary folder of this test's own: other programs (a parallel ctest run's among them)
    // write their commands' outputs into the shared one at the same time.
    const QTemporaryDir ownTemp;
    std::optional<ScopedEnvironment> temp{std::in_place, "TMPDIR", ownTemp.path()};
    const QString tempFolder = QDir::tempPath();
    const auto leftovers = [&] { return QDir(tempFolder).entryList({u"Vantle-command-*"_s}).size(); };
    const qsizetype before = leftovers();

    EXPECT_EQ(description([&] { AndroidRuntimeCLI::run(notExecutable, {}); }),
              u"Android tool missing: adb"_s);
    EXPECT_EQ(description([&] { AndroidRuntimeCLI::run(home.filePath(u"nothing"_s), {}); }),
              u"Android tool missing: nothing"_s);
    EXPECT_EQ(AndroidRuntimeCLI::run(script(u"newline"_s, "echo\n"), {}), u"\n"_s);
    EXPECT_EQ(
        AndroidRuntimeCLI::run(script(u"args"_s, "printf '%s|' \"$@\"\n"), {u"a b"_s, u"$HOME"_s, u";x"_s}),
        u"a b|$HOME|;x|"_s); // arguments reach the tool as given, no shell in between
    EXPECT_EQ(description([&] { AndroidRuntimeCLI::run(script(u"silent"_s, "exit 1\n"), {}); }),
              u"Android command failed"_s);
    EXPECT_EQ(description([&] {
                  AndroidRuntimeCLI::run(
                      script(u"stderr"_s, "echo out\necho '  Failure [X]  ' >&2\nexit 3\n"), {});
              }),
              u"out\n  Failure [X]"_s);
    EXPECT_EQ(description([&] { AndroidRuntimeCLI::run(script(u"slow"_s, "sleep 30\n"), {}, 300); }),
              u"slow did not answer within 0.3 s"_s);
    EXPECT_EQ(leftovers(), before); // every temporary output file is removed
    temp.reset();

    EXPECT_FALSE(AndroidRuntimeCLI::runADB({u"devices"_s})); // no adb at all
}

TEST(ApkInstallerRules, PackageNamesFollowAndroidsRule) {
    for (const char* valid : {"org.example.notes", "a.b", "Com.X_1.y2", "com.app_name.z"})
        EXPECT_TRUE(AndroidRuntimeCLI::isValidPackageName(QString::fromLatin1(valid))) << valid;
    for (const char* invalid : {"", "notes", "org.", ".org", "org..x", "1org.x", "org.1x", "org.x;reboot",
                                "org.x rm", "org.x$(id)", "org.x'", "org.x\nrm", "org.é"})
        EXPECT_FALSE(AndroidRuntimeCLI::isValidPackageName(QString::fromUtf8(invalid))) << invalid;
    EXPECT_FALSE(AndroidRuntimeCLI::isValidPackageName(u"a."_s + QString(300, u'b')));
}

TEST(ApkInstallerRules, DisplayNamesSkipGenericParts) {
    const std::pair<const char*, const char*> cases[] = {{"org.example.notes", "Notes"},
                                                         {"com.foo.app", "Foo"},
                                                         {"org.fdroid.fdroid", "Org"},
                                                         {"com.x.android", "Com"},
                                                         {"io.a.b", "Io"},
                                                         {"net.mobile.Free", "Net"},
                                                         {"..", ".."},
                                                         {"de.schildbach.wallet", "Wallet"}};
    for (const auto& [package, name] : cases)
        EXPECT_EQ(AndroidRuntimeCLI::displayName(QString::fromLatin1(package)), QString::fromLatin1(name))
            << package;
}

TEST(ApkInstallerRules, FingerprintsKeepTheTimesFullPrecision) {
    QTemporaryDir folder;
    const QString path = folder.filePath(u"app.apk"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1234, 'x'));
    file.flush();
    ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(1733480000000, Qt::UTC),
                                 QFileDevice::FileModificationTime));
    EXPECT_EQ(AndroidRuntimeCLI::fingerprint(path), u"1234-1733480000.0"_s);
    ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(1733480000250, Qt::UTC),
                                 QFileDevice::FileModificationTime));
    EXPECT_EQ(AndroidRuntimeCLI::fingerprint(path), u"1234-1733480000.25"_s);
    EXPECT_EQ(AndroidRuntimeCLI::fingerprint(folder.filePath(u"missing.apk"_s)), u"-1--62135596800.0"_s);
}

} // namespace
