// Tool paths, the command runner, and what Vantle reads from the tools' output; no device.
#include "core/SettingsKeys.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/ApkInstaller.h"
#include "runtime/EmulatorOutput.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(RuntimePathsTest, CurrentIsTheSelectedCompleteLevelAndItsToolsRunAsGiven) {
    ScopedSettings settings;
    QTemporaryDir home;
    const ScopedEnvironment vantleHome{"VANTLE_HOME", home.path()};
    // Lays out an installation step by step; each step makes one more check pass.
    const auto layOut = [](const AndroidRuntimePaths& paths, int steps) {
        if (steps > 0) writeFile(paths.adb(), "#!/bin/sh\n", true);
        if (steps > 1) writeFile(paths.emulator(), "#!/bin/sh\n", true);
        if (steps > 2) writeFile(paths.systemImage(), "image");
        if (steps > 3 && paths.avdHome) writeFile(*paths.avdHome + u'/' + paths.avdName + u".ini"_s, "ini");
    };
    // Nothing installed, 35 selected: the developer SDK, incomplete.
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::developerSDK());
    EXPECT_FALSE(AndroidRuntimePaths::current().isComplete());
    EXPECT_FALSE(AndroidRuntimeCLI::runADB({u"devices"_s})); // no adb at all
    VantleSettings::set(SettingsKeys::androidAPI, 34);
    EXPECT_EQ(AndroidRuntimePaths::current().avdName, u"Vantle-34"_s);
    EXPECT_FALSE(AndroidRuntimePaths::current().isComplete());
    const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(34);
    for (int steps = 0; steps < 4; ++steps) {
        layOut(paths, steps);
        EXPECT_FALSE(paths.isComplete()) << steps << " steps";
    }
    layOut(paths, 4);
    EXPECT_TRUE(paths.isComplete());
    QFile(paths.emulator()).setPermissions(QFile::ReadOwner); // present but not executable
    EXPECT_FALSE(paths.isComplete());
    for (const QVariant& unsupported : {QVariant(29), QVariant(99), QVariant(u"34"_s)}) {
        VantleSettings::set(SettingsKeys::androidAPI, unsupported); // a text is no level either
        EXPECT_EQ(AndroidRuntimePaths::selectedAPI(), 35) << unsupported.toString().toStdString();
    }
    layOut(AndroidRuntimePaths::managed(35), 4);
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::managed(35));
    VantleSettings::set(SettingsKeys::useDeveloperSDK, true); // the developer SDK wins only when complete
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::managed(35));
    layOut(AndroidRuntimePaths::developerSDK(), 3);
    EXPECT_EQ(AndroidRuntimePaths::current(), AndroidRuntimePaths::developerSDK());

    const auto script = [&](const QString& name, const QByteArray& body) {
        EXPECT_TRUE(writeFile(home.filePath(name), "#!/bin/sh\n" + body, true));
        return home.filePath(name);
    };
    const auto failure = [](const QString& tool, int timeoutMs = AndroidRuntimeCLI::noTimeLimit) {
        return thrownDescription<AndroidRuntimeError>([&] { AndroidRuntimeCLI::run(tool, {}, timeoutMs); });
    };
    ASSERT_TRUE(writeFile(home.filePath(u"adb"_s), "#!/bin/sh\n")); // not executable
    // A temporary folder of its own: other programs (a parallel ctest run's) write into the shared one.
    const QTemporaryDir ownTemp;
    const ScopedEnvironment temp{"TMPDIR", ownTemp.path()};

    EXPECT_EQ(failure(home.filePath(u"adb"_s)), u"Android tool missing: adb"_s);
    EXPECT_EQ(failure(home.filePath(u"nothing"_s)), u"Android tool missing: nothing"_s);
    EXPECT_EQ(AndroidRuntimeCLI::run(script(u"newline"_s, "echo\n"), {}), u"\n"_s);
    EXPECT_EQ(
        AndroidRuntimeCLI::run(script(u"args"_s, "printf '%s|' \"$@\"\n"), {u"a b"_s, u"$HOME"_s, u";x"_s}),
        u"a b|$HOME|;x|"_s); // arguments reach the tool as given, no shell in between
    EXPECT_EQ(failure(script(u"silent"_s, "exit 1\n")), u"Android command failed"_s);
    EXPECT_EQ(failure(script(u"stderr"_s, "echo out\necho '  Failure [X]  ' >&2\nexit 3\n")),
              u"out\n  Failure [X]"_s);
    EXPECT_EQ(failure(script(u"slow"_s, "sleep 30\n"), 300), u"slow did not answer within 0.3 s"_s);
    EXPECT_TRUE(QDir(ownTemp.path()).isEmpty()); // every temporary output file is removed
}

// Package names, display names and fingerprints of APKs; what Google's tools print where Vantle reads it.
TEST(ApkInstallerRules, PackageNamesDisplayNamesFingerprintsAndToolOutput) {
    for (const char* valid : {"org.example.notes", "a.b", "Com.X_1.y2", "com.app_name.z"})
        EXPECT_TRUE(AndroidRuntimeCLI::isValidPackageName(QString::fromLatin1(valid))) << valid;
    for (const char* invalid : {"", "notes", "org.", ".org", "org..x", "1org.x", "org.1x", "org.x;reboot",
                                "org.x rm", "org.x$(id)", "org.x'", "org.x\nrm", "org.é"})
        EXPECT_FALSE(AndroidRuntimeCLI::isValidPackageName(QString::fromUtf8(invalid))) << invalid;
    EXPECT_FALSE(AndroidRuntimeCLI::isValidPackageName(u"a."_s + QString(300, u'b')));

    // Generic parts are skipped: each package, then its name.
    const QStringList names =
        u"org.example.notes Notes com.foo.app Foo org.fdroid.fdroid Org com.x.android Com io.a.b Io "
        u"net.mobile.Free Net .. .. de.schildbach.wallet Wallet"_s.split(u' ');
    for (qsizetype i = 0; i < names.size(); i += 2)
        EXPECT_EQ(AndroidRuntimeCLI::displayName(names[i]), names[i + 1]);

    QTemporaryDir folder; // fingerprints keep the times' full precision
    QFile file(folder.filePath(u"app.apk"_s));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.write(QByteArray(1234, 'x')) == 1234 && file.flush());
    for (const auto& [msecs, expected] :
         {std::pair{1733480000000, "1234-1733480000.0"}, std::pair{1733480000250, "1234-1733480000.25"}}) {
        ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC),
                                     QFileDevice::FileModificationTime));
        EXPECT_EQ(AndroidRuntimeCLI::fingerprint(file.fileName()), QLatin1StringView(expected));
    }
    EXPECT_EQ(AndroidRuntimeCLI::fingerprint(folder.filePath(u"missing.apk"_s)), u"-1--62135596800.0"_s);

    // The emulator's last error: "LEVEL | message" then untagged details (34 and later), "emulator: LEVEL:
    // message" (older), else the last line that is no log line (a crash); adb's ends in pm's answer.
    const std::pair<const char*, std::optional<QString>> emulator[] = {
        {"INFO    | Android emulator version 34.1.20.0\nERROR   | first\r\nERROR   | x86_64 emulation "
         "currently requires hardware acceleration!\nCPU acceleration status: KVM requires a CPU that "
         "supports vmx or svm\n",
         u"x86_64 emulation currently requires hardware acceleration!"_s},
        {"emulator: ERROR: x86 emulation currently requires hardware acceleration!\nPlease ensure KVM is "
         "usable.\n",
         u"x86 emulation currently requires hardware acceleration!"_s},
        {"INFO    | Boot completed\nqemu-system-x86_64: failed to initialize kvm\n\n",
         u"qemu-system-x86_64: failed to initialize kvm"_s},
        {"INFO    | Android emulator\nWARNING | slow disk\n", std::nullopt},
    };
    for (const auto& [output, line] : emulator)
        EXPECT_EQ(EmulatorOutput::lastErrorLine(QByteArray(output)), line) << output;

    const std::pair<QString, QString> adb[] = {
        // Google's adb 1.0.41 as it printed a refused push install.
        {u"Performing Push Install\n/tmp/notes.apk: 1 file pushed, 0 skipped. 9.1 MB/s (845 bytes in 0.000s)"
         u"\n\tpkg: /data/local/tmp/notes.apk\nFailure [INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected]"
         u"\n"_s,
         u"Failure [INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected]"_s},
        {u"adb: failed to stat /x.apk: No such file or directory\n"_s,
         u"adb: failed to stat /x.apk: No such file or directory"_s},
        {u"  something else\n"_s, u"something else"_s}};
    for (const auto& [transcript, answer] : adb)
        EXPECT_EQ(AndroidRuntimeCLI::installFailureText(transcript), answer);
}

} // namespace
