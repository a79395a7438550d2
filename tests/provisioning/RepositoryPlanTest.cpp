// Google's package lists: the parser, and the choice of package and archive for this computer.
#include "RepositoryFixtures.h"
#include "core/SettingsKeys.h"
#include "platform/Locations.h"
#include "provisioning/AndroidVersions.h"
#include "provisioning/RepositoryParser.h"
#include "provisioning/RuntimeProvisionError.h"
#include "provisioning/RuntimeRepository.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/HostDescription.h"
#include "sim/SimInstaller.h"
#include "support/DeviceFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using RepositoryFixtures::Archive;
using RepositoryFixtures::Package;

namespace {

const HostDescription& host = HostDescription::current();
const QString systemImagePath = u"system-images;android-35;default;"_s + host.systemImageABI;

Archive hostArchive(const QString& url, const QString& sha1 = u"ab"_s) {
    return {url, 100, sha1, host.repositoryOS, host.repositoryArchs.first()};
}

RepositoryParser parsed(const QByteArray& xml) {
    RepositoryParser parser;
    EXPECT_TRUE(parser.parse(xml)) << parser.errorString().toStdString();
    return parser;
}

RuntimePlan planOne(const QList<Package>& packages, const QString& path = u"emulator"_s,
                    const QMap<QString, QString>& licenses = {}) {
    const QUrl base(u"https://example.org/android/repository/"_s);
    const QUrl index = base.resolved(QUrl(u"repository2-3.xml"_s));
    return RuntimeRepository::planFrom(
        {{path, index, base}},
        {{index.toString(), parsed(RepositoryFixtures::list(packages, licenses, false))}});
}

} // namespace

TEST(AndroidVersionsTest, SelectedFallsBackTo35AndNamesLevels) {
    ScopedSettings settings;
    for (qint64 stored : {29, 0, 37}) {
        VantleSettings::set(SettingsKeys::androidAPI, stored);
        EXPECT_EQ(AndroidVersions::selected(), 35) << stored;
    }
    VantleSettings::set(SettingsKeys::androidAPI, qint64(32));
    EXPECT_EQ(AndroidVersions::selected(), 32);
    EXPECT_EQ(AndroidVersions::name(32), u"Android 12L"_s);
    EXPECT_EQ(AndroidVersions::name(36), u"Android 16"_s);
    EXPECT_EQ(AndroidVersions::name(29), u"Android (API 29)"_s);
}

TEST(AndroidVersionsTest, InstalledListsCompleteManagedRuntimes) {
    ScopedSettings settings;
    QTemporaryDir home;
    const ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    EXPECT_TRUE(AndroidVersions::installed().isEmpty());
    ASSERT_EQ(SimInstaller::install({Locations::runtime(), QStringLiteral(VANTLE_SIM_TOOLS_DIR), 36, {}, {}}),
              QString());
    ASSERT_EQ(SimInstaller::install({Locations::runtime(), QStringLiteral(VANTLE_SIM_TOOLS_DIR), 33, {}, {}}),
              QString());
    EXPECT_EQ(AndroidVersions::installed(), (QList<int>{33, 36}));
    QFile::remove(AndroidRuntimePaths::managed(36).systemImage());
    EXPECT_EQ(AndroidVersions::installed(), QList<int>{33});
}

TEST(RepositoryParserTest, ReadsPackagesLicencesAndPrefixedElements) {
    const QByteArray xml =
        "<sdk:sdk-repository xmlns:sdk='s' xmlns:common='c'>"
        "<common:license id='lic-a' type='text'>\n  Terms A\n</common:license>"
        "<remotePackage path='emulator'>"
        "<revision><major>35</major><minor>1</minor><micro>x</micro><preview>2</preview></revision>"
        "<display-name>\n Android Emulator \n</display-name><uses-license ref='lic-a'/>"
        "<archives><archive><complete><size>12</size><checksum type='sha1'>AB</checksum>"
        "<url>first.zip</url><url>second.zip</url></complete><host-os>linux</host-os></archive>"
        "<archive><complete><size>nope</size></complete></archive></archives>"
        "</remotePackage><remotePackage path='lonely'/></sdk:sdk-repository>";
    const RepositoryParser parser = parsed(xml);
    EXPECT_EQ(parser.licenses.value(u"lic-a"_s), u"\n  Terms A\n"_s); // untrimmed
    ASSERT_EQ(parser.packages.size(), 2);
    const auto& emulator = parser.packages[0];
    EXPECT_EQ(emulator.path, u"emulator"_s);
    EXPECT_EQ(emulator.displayName, u"Android Emulator"_s);
    EXPECT_EQ(emulator.revision, (QList<int>{35, 1, 0}));
    EXPECT_EQ(emulator.licenseRef, u"lic-a"_s);
    EXPECT_TRUE(emulator.channel.isEmpty());
    ASSERT_EQ(emulator.archives.size(), 2);
    EXPECT_EQ(emulator.archives[0].url, u"second.zip"_s); // the last one read wins
    EXPECT_EQ(emulator.archives[0].size, 12);
    EXPECT_EQ(emulator.archives[0].os, u"linux"_s);
    EXPECT_EQ(emulator.archives[1].size, 0);
    EXPECT_TRUE(parser.packages[1].archives.isEmpty());

    RepositoryParser broken;
    EXPECT_FALSE(broken.parse("<sdk-repository><remotePackage path='x'></sdk-repository>"));
    EXPECT_FALSE(broken.errorString().isEmpty());
}

TEST(RepositoryPlanTest, ChoosesTheNewestStableRevision) {
    Package canary{u"emulator"_s,  u"Canary"_s, u"36.0.0"_s,
                   u"channel-3"_s, {},          {hostArchive(u"canary.zip"_s)}};
    Package stable{u"emulator"_s,  u"Stable"_s, u"35.0.2"_s,
                   u"channel-0"_s, {},          {hostArchive(u"stable.zip"_s)}};
    EXPECT_EQ(planOne({canary, stable}).archives.value(0).displayName, u"Stable"_s);

    Package noChannel{u"emulator"_s, u"Ten"_s, u"35.0.10"_s, {}, {}, {hostArchive(u"ten.zip"_s)}};
    Package twin{u"emulator"_s, u"Twin"_s, u"35.0.10"_s, {}, {}, {hostArchive(u"twin.zip"_s)}};
    const RuntimePlan plan = planOne({stable, noChannel, twin});
    EXPECT_EQ(plan.archives.value(0).revision, u"35.0.10"_s); // numeric, not text order
    EXPECT_EQ(plan.archives.value(0).displayName, u"Ten"_s);  // the earlier of equal revisions
}

TEST(RepositoryPlanTest, ChoosesTheArchiveForThisComputer) {
    const QString otherOS = host.repositoryOS == "linux"_L1 ? u"macosx"_s : u"linux"_s;
    Package foreign{u"emulator"_s,
                    u"Emulator"_s,
                    u"35.0.2"_s,
                    u"channel-0"_s,
                    {},
                    {{u"win.zip"_s, 1, u"a"_s, u"windows"_s, {}},
                     {u"other.zip"_s, 1, u"a"_s, otherOS, {}},
                     {u"wrong-arch.zip"_s, 1, u"a"_s, host.repositoryOS, u"riscv"_s}}};
    EXPECT_EQ(
        thrownDescription<RuntimeProvisionError>([&] { planOne({foreign}); }),
        u"Google's package list has no download for emulator on "_s +
            (host.repositoryOS == "macosx"_L1 ? u"Apple Silicon"_s : u"Linux "_s + host.systemImageABI));

    Package generic = foreign;
    generic.archives.append({u"any.zip"_s, 1, u"a"_s, {}, {}});
    EXPECT_EQ(planOne({generic}).archives.value(0).url.fileName(), u"any.zip"_s);
    generic.archives.append(hostArchive(u"native.zip"_s));
    EXPECT_EQ(planOne({generic}).archives.value(0).url.fileName(), u"native.zip"_s);

    Package unnamed{u"emulator"_s, {}, u"35.0.2"_s, {}, {}, {hostArchive(u"http://[bad"_s)}};
    const QString missing = RuntimeProvisionError::missingPackage(u"emulator"_s).description();
    EXPECT_EQ(thrownDescription<RuntimeProvisionError>([&] { planOne({unnamed}); }), missing);
    EXPECT_EQ(thrownDescription<RuntimeProvisionError>([&] { planOne({}); }), missing);
}

TEST(RepositoryPlanTest, WantsOnlyTheSystemImageWhenToolsArePresent) {
    ScopedSettings settings;
    QTemporaryDir home;
    const ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    std::optional<ScopedEnvironment> mirror{std::in_place, "VANTLE_SDK_REPOSITORY",
                                            u"http://127.0.0.1:9/mirror"_s};
    EXPECT_EQ(RuntimeRepository::wanted().size(), 3);
    const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(35);
    for (const QString& tool : {paths.adb(), paths.emulator()})
        ASSERT_TRUE(writeFile(tool, {}, true));
    const auto wanted = RuntimeRepository::wanted();
    ASSERT_EQ(wanted.size(), 1);
    EXPECT_EQ(wanted[0].packagePath, systemImagePath);
    EXPECT_EQ(wanted[0].indexURL.toString(), u"http://127.0.0.1:9/mirror/sys-img/android/sys-img2-3.xml"_s);
    mirror.reset();
    EXPECT_EQ(RuntimeRepository::base().toString(), u"https://dl.google.com/android/repository/"_s);
}
