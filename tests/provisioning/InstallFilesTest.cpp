// Unpacking archives from the network, the files written after an install, and finding and
// verifying the display-bridge files.
#include "TestArchives.h"
#include "provisioning/AndroidRuntimeProvisioner.h"
#include "provisioning/ArchiveUnpacker.h"
#include "provisioning/DiskSpace.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "provisioning/RuntimeInstallRecord.h"
#include "runtime/HostDescription.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Source = AndroidBridgeComponents::Source;

namespace {

// Every entry below `folder`, as a sorted list.
QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

TEST(ArchiveUnpackerTest, KeepsModesAndInnerLinksAndReplacesAPackageFolderWhole) {
    QTemporaryDir folder;
    const QString zip = folder.filePath(u"archive.zip"_s), sdk = folder.filePath(u"sdk"_s);
    QDir().mkpath(sdk + u"/emulator"_s);
    QDir().mkpath(sdk + u"/.unpacking-killed/platform-tools"_s); // an unpack killed half way
    ASSERT_TRUE(writeFile(sdk + u"/platform-tools/stale"_s, {}));
    ASSERT_TRUE(writeFile(zip, TestArchives::zip({{u"platform-tools/"_s, {}, 0755},
                                                  {u"platform-tools/adb"_s, "#!/bin/sh\n", 0755},
                                                  {u"platform-tools/NOTICE.txt"_s, "notice"},
                                                  {u"platform-tools/lib/libc++.so"_s, "elf"},
                                                  {u"platform-tools/lib64"_s, {}, 0777, u"lib"_s},
                                                  {u"platform-tools/bin/tool"_s, {}, 0777, u"../adb"_s}})));
    ASSERT_EQ(ArchiveUnpacker::unpack(zip, sdk), QString());
    EXPECT_TRUE(QFileInfo(sdk + u"/platform-tools/adb"_s).isExecutable());
    EXPECT_FALSE(QFileInfo(sdk + u"/platform-tools/NOTICE.txt"_s).isExecutable());
    EXPECT_EQ(readFile(sdk + u"/platform-tools/lib64/libc++.so"_s), "elf");
    EXPECT_EQ(readFile(sdk + u"/platform-tools/bin/tool"_s), "#!/bin/sh\n");
    EXPECT_TRUE(QFileInfo(sdk + u"/platform-tools/bin/tool"_s).isSymLink());
    EXPECT_EQ(entries(sdk + u"/platform-tools"_s),
              (QStringList{u"adb"_s, u"bin"_s, u"lib"_s, u"lib64"_s, u"NOTICE.txt"_s})); // nothing stale
    EXPECT_EQ(entries(sdk), (QStringList{u"emulator"_s, u"platform-tools"_s})); // no staging folder left

    // A link already on disk that points outside is replaced, never written through.
    QDir(sdk + u"/platform-tools"_s).removeRecursively();
    QDir().mkpath(folder.filePath(u"outside"_s));
    QFile::link(folder.filePath(u"outside"_s), sdk + u"/platform-tools"_s);
    ASSERT_TRUE(writeFile(zip, TestArchives::zip({{u"platform-tools/adb"_s, "x", 0755}})));
    EXPECT_EQ(ArchiveUnpacker::unpack(zip, sdk), QString());
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"outside/adb"_s)));
    EXPECT_FALSE(QFileInfo(sdk + u"/platform-tools"_s).isSymLink());
    EXPECT_EQ(readFile(sdk + u"/platform-tools/adb"_s), "x");
}

TEST(ArchiveUnpackerTest, RefusesArchivesWithEntriesThatLeaveTheDestinationAndKeepsNothingOfThem) {
    using Entries = QList<TestArchives::Entry>;
    const std::pair<Entries, QString> hostile[] = {
        {{{u"ok/../../escaped.txt"_s, "x"}}, {}},
        {{{u"/tmp/escaped.txt"_s, "x"}}, {}},
        {{{u"link"_s, {}, 0777, u"../.."_s}, {u"link/escaped.txt"_s, "x"}}, {}},
        {{{u"abs"_s, {}, 0777, u"/etc"_s}}, {}},
        {{{u"sub/"_s, {}, 0755}, {u"sub/up"_s, {}, 0777, u"../b/../.."_s}}, {}},
        {{{u"inside"_s, {}, 0777, u"."_s}, {u"inside/../../escaped.txt"_s, "x"}}, {}},
        {{{u"platform-tools/adb"_s, "#!/bin/sh\n", 0755}, {u"platform-tools/lib"_s, {}, 0777, u"/usr/lib"_s}},
         u"its link \"platform-tools/lib\" points outside its folder"_s},
    };
    for (const auto& [archive, reason] : hostile) {
        SCOPED_TRACE(archive.last().name.toStdString());
        QTemporaryDir folder;
        const QString destination = folder.filePath(u"sdk/inner"_s);
        QDir().mkpath(destination + u"/kept"_s);
        ASSERT_TRUE(writeFile(folder.filePath(u"archive.zip"_s), TestArchives::zip(archive)));
        const QString refusal = ArchiveUnpacker::unpack(folder.filePath(u"archive.zip"_s), destination);
        EXPECT_TRUE(reason.isEmpty() || refusal == reason) << refusal.toStdString();
        EXPECT_TRUE(refusal.contains(u"outside its folder"_s) || refusal.contains(u"through a link"_s))
            << refusal.toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"escaped.txt"_s)));
        EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"sdk/escaped.txt"_s)));
        // Nothing of a refused archive stays, not even the entries before the refused one.
        EXPECT_EQ(entries(destination), QStringList{u"kept"_s});
    }
}

TEST(DiskSpaceTest, CountsArchivesTheirUnpackedSizeAndTheDataPartition) {
    QTemporaryDir folder;
    ASSERT_TRUE(writeFile(folder.filePath(u"a.zip"_s),
                          TestArchives::zip({{u"x86_64/"_s, {}, 0755},
                                             {u"x86_64/system.img"_s, QByteArray(300000, 'a')},
                                             {u"x86_64/build.prop"_s, "ro.x=1\n"}})));
    EXPECT_EQ(ArchiveUnpacker::unpackedSize(folder.filePath(u"a.zip"_s)), 300007);
    EXPECT_EQ(ArchiveUnpacker::unpackedSize(folder.filePath(u"missing.zip"_s)), std::nullopt);
    // Known unpacked sizes replace the estimate of three times the listed size.
    constexpr qint64 partition = DiskSpace::dataPartitionBytes;
    EXPECT_EQ(DiskSpace::needed({}), partition);
    EXPECT_EQ(DiskSpace::needed({{100, std::nullopt, 100}, {40, std::nullopt, 50}}),
              partition + 100 + 300 + 40 + 150);
    EXPECT_EQ(DiskSpace::needed({{0, 700, 100}}), partition + 700);
    const QString where = folder.filePath(u"Runtime"_s);
    EXPECT_EQ(DiskSpace::shortfall(6'000'000'001, 6'000'000'000, where),
              u"Android needs about 6.1 GB free in "_s + where + u"; 6.0 GB are free."_s);
    EXPECT_EQ(DiskSpace::shortfall(100, 100, where), std::nullopt);
    EXPECT_TRUE(
        DiskSpace::freeBytes(where + u"/not/yet"_s).has_value()); // measured on its parent's file system
}

TEST(InstallRecordTest, WritesTheVirtualDeviceByteForByteAndChecksumsWholeFiles) {
    QTemporaryDir folder;
    AndroidRuntimePaths paths{folder.filePath(u"sdk"_s), folder.filePath(u"avd"_s), u"Vantle-34"_s, true, 34};
    RuntimeInstallRecord::writeAVD(paths);
    const QString avd = folder.filePath(u"avd/Vantle-34.avd"_s);
    EXPECT_EQ(readFile(folder.filePath(u"avd/Vantle-34.ini"_s)),
              "avd.ini.encoding=UTF-8\npath=" + avd.toUtf8() +
                  "\npath.rel=avd/Vantle-34.avd\ntarget=android-34\n");
    const QByteArray abi = HostDescription::current().systemImageABI.toUtf8();
    const QByteArray config = readFile(avd + u"/config.ini"_s);
    for (const QByteArray& line : QList<QByteArray>{
             "AvdId=Vantle-34\n", "avd.ini.displayname=Vantle Android 14\n", "\nabi.type=" + abi + '\n',
             "\nhw.cpu.arch=" + HostDescription::current().avdCpuArch.toUtf8() + '\n',
             "\nimage.sysdir.1=system-images/android-34/default/" + abi + "/\n",
             "\nPlayStore.enabled=false\n", "\ndisk.dataPartition.size=6442450944\n"})
        EXPECT_TRUE(config.contains(line)) << line.toStdString();
    EXPECT_TRUE(config.endsWith("\nvm.heapSize=256\n")) << config.toStdString();

    paths.avdHome.reset(); // without an AVD home nothing is written
    paths.avdName = u"Other"_s;
    RuntimeInstallRecord::writeAVD(paths);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"avd/Other.ini"_s)));
    // A folder that cannot be written fails loudly.
    AndroidRuntimePaths blocked{{}, folder.filePath(u"avd/Vantle-34.ini/x"_s), u"V"_s, true, 34};
    EXPECT_THROW(RuntimeInstallRecord::writeAVD(blocked), InstallWriteError);

    // The checksum of an archive reads the whole file, in chunks and a part.
    for (const QByteArray& contents :
         {QByteArray(9 * 1024 * 1024 + 7, 'v'), QByteArray()}) { // chunks and a part
        ASSERT_TRUE(writeFile(folder.filePath(u"file.bin"_s), contents));
        EXPECT_EQ(AndroidRuntimeProvisioner::sha1(folder.filePath(u"file.bin"_s)),
                  QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha1).toHex()));
    }
    EXPECT_EQ(AndroidRuntimeProvisioner::sha1(folder.filePath(u"missing"_s)), QString());
}

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

// An install's share/vantle wins over a build tree's bridge folder; VANTLE_BUNDLE is not read here.
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
