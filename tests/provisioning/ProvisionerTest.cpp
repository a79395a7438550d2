// The whole set-up flow on loopback: lists and zip archives (holding the simulated Android) served
// by a local HTTP server, installed into a fresh Vantle home and booted.
#include "RepositoryFixtures.h"
#include "TestArchives.h"
#include "core/WaitFor.h"
#include "platform/Locations.h"
#include "platform/Virtualisation.h"
#include "provisioning/AndroidRuntimeProvisioner.h"
#include "provisioning/DownloadDelegate.h"
#include "provisioning/RuntimeSetupView.h"
#include "provisioning/TransferPolicy.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/HostDescription.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimInstaller.h"
#include "support/DeviceFiles.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <sys/mount.h>

using namespace Qt::Literals::StringLiterals;
using Kind = ProvisionPhase::Kind;

namespace {

struct ServedArchive {
    QByteArray path; // on the server
    QByteArray body;
};

// The simulated runtime, cut into the three archives Google publishes.
const QList<ServedArchive>& archives() {
    static const QList<ServedArchive> archives = [] {
        QTemporaryDir source;
        SimInstaller::install({source.path(), QStringLiteral(VANTLE_SIM_TOOLS_DIR), 35, 300, 0});
        const QString sdk = source.filePath(u"sdk"_s);
        return QList<ServedArchive>{
            {"/android/repository/platform-tools_r35.0.2-linux.zip",
             TestArchives::zipFolder(sdk + u"/platform-tools"_s, u"platform-tools/"_s)},
            {"/mirror/emulator-linux_x64-35.zip",
             TestArchives::zipFolder(sdk + u"/emulator"_s, u"emulator/"_s)},
            {"/android/repository/sys-img/android/x86_64-35_r07.zip",
             TestArchives::zipFolder(sdk + u"/system-images/android-35/default"_s, {})}};
    }();
    return archives;
}

QString sha1(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

const QString systemImage =
    u"system-images;android-35;default;"_s + HostDescription::current().systemImageABI;

class ProvisionerTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    QTemporaryDir home;
    LoopbackHttpServer server;
    const ScopedEnvironment vantleHome{"VANTLE_HOME", home.path()};
    const ScopedEnvironment repository{"VANTLE_SDK_REPOSITORY",
                                       server.url(u"/android/repository/"_s).toString()};
    AndroidRuntimeProvisioner& provisioner = AndroidRuntimeProvisioner::shared();

    void SetUp() override {
        provisioner.reset();
        // A whole set-up needs several GB free; only the small-disk test sees the machine's disk.
        provisioner.setFreeSpaceQuery([](const QString&) { return std::optional<qint64>(qint64(1) << 40); });
        serveLists();
        for (const ServedArchive& archive : archives())
            server.serve(archive.path, {200, archive.body});
    }
    void TearDown() override {
        provisioner.reset();
        provisioner.setStallTimeout(TransferPolicy::standardStallLimit);
        provisioner.setFreeSpaceQuery({});
    }

    // The lists: platform-tools under an upper-case checksum, a canary emulator that must not be
    // chosen, the emulator on a mirror, archives for other hosts, one licence shared by two packages.
    void serveLists(const QByteArray& image = archives()[2].body,
                    const QByteArray& tools = archives()[0].body) {
        const HostDescription& host = HostDescription::current();
        const QString os = host.repositoryOS, arch = host.repositoryArchs.first();
        const QByteArray& emulator = archives()[1].body;
        const QString mirror = server.url(u"/mirror/emulator-linux_x64-35.zip"_s).toString();
        const QList<RepositoryFixtures::Package> packages{
            {.path = u"platform-tools"_s,
             .displayName = u"Android SDK Platform-Tools"_s,
             .archives = {{u"platform-tools_r35.0.2-windows.zip"_s, 9, u"00"_s, u"windows"_s},
                          {u"platform-tools_r35.0.2-linux.zip"_s, tools.size(), sha1(tools).toUpper(), os}}},
            {.path = u"emulator"_s,
             .displayName = u"Android Emulator"_s,
             .revision = u"36.1.0"_s,
             .channel = u"channel-3"_s,
             .archives = {{u"canary.zip"_s, 1, u"00"_s, os, arch}}},
            {.path = u"emulator"_s,
             .displayName = u"Android Emulator"_s,
             .revision = u"35.3.11"_s,
             .archives = {{mirror, emulator.size(), sha1(emulator), os, arch}}}};
        const RepositoryFixtures::Package imagePackage{
            .path = systemImage,
            .revision = u"7.0.0"_s,
            .channel = {},
            .license = u"android-sdk-preview-license"_s,
            .archives = {{u"x86_64-35_r07.zip"_s, image.size(), sha1(image)}}};
        const QMap<QString, QString> licenses{{u"android-sdk-license"_s, u"\nTerms of the SDK.\n"_s},
                                              {u"android-sdk-preview-license"_s, u"Preview terms."_s}};
        server.serve("/android/repository/repository2-3.xml",
                     {200, RepositoryFixtures::list(packages, licenses, false)});
        server.serve("/android/repository/sys-img/android/sys-img2-3.xml",
                     {200, RepositoryFixtures::list({imagePackage}, licenses, true)});
    }

    bool waitFor(Kind kind) {
        return waitUntil([&] { return provisioner.phase().kind == kind; }, 20000);
    }
    void prepareAndAccept() {
        provisioner.prepare();
        ASSERT_TRUE(waitFor(Kind::needsAcceptance)) << provisioner.phase().text.toStdString();
        provisioner.acceptAndInstall();
    }
    // A set-up that fails: its message, which is also the last line of the set-up log.
    QString failure() {
        prepareAndAccept();
        EXPECT_TRUE(waitFor(Kind::failed)) << int(provisioner.phase().kind);
        EXPECT_EQ(setupLog().last(), u"install failed: "_s + provisioner.phase().text);
        return provisioner.phase().text;
    }
    QList<QByteArray> ranges(const QByteArray& path) const { // of the requests for `path`
        QList<QByteArray> found;
        for (const LoopbackHttpServer::Request& request : server.requests)
            if (request.path == path) found.append(request.range);
        return found;
    }
    QStringList setupLog() const {
        QStringList lines;
        for (const QByteArray& line : readFile(Locations::logs() + u"/runtime-setup.log"_s).split('\n'))
            if (!line.isEmpty()) lines.append(QString::fromUtf8(line.mid(line.indexOf(' ') + 1)));
        return lines;
    }
};

} // namespace

// With VANTLE_SCREENSHOTS set to a folder (scripts/take-screenshots), each state is saved there as a
// PNG. Without usable virtualisation set-up goes on: the download is of use once the user fixed it.
TEST_F(ProvisionerTest, SetupScreenFollowsTheFlowToABootedAndroidAndWarnsWithoutVirtualisation) {
    RuntimeSetupView view(provisioner);
    view.resize(480, 480);
    const auto shoot = [&](const char* name, QWidget* widget = nullptr) {
        const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS");
        if (!folder.isEmpty())
            (widget ? widget : &view)->grab().save(folder + u'/' + QLatin1StringView(name) + u".png"_s);
    };
    const auto visible = [&](const char* name) {
        auto* widget = view.findChild<QWidget*>(QLatin1StringView(name));
        return widget && widget->isVisibleTo(&view);
    };
    const auto text = [&](const char* name) {
        auto* label = view.findChild<QLabel*>(QLatin1StringView(name));
        return label ? label->text() : u"(none)"_s;
    };
    const auto click = [&](QWidget* root, const char* name) {
        auto* target = root->findChild<QPushButton*>(QLatin1StringView(name));
        ASSERT_TRUE(target) << name;
        target->click();
    };

    server.serve("/android/repository/sys-img/android/sys-img2-3.xml", {404, {}});
    view.show(); // showing asks for a plan
    EXPECT_EQ(provisioner.phase().kind, Kind::checking);
    EXPECT_TRUE(visible("checkingLabel"));
    EXPECT_EQ(text("checkingLabel"), u"Checking Google's Android packages…"_s);
    EXPECT_EQ(text("title"), u"Set up Android"_s);
    EXPECT_EQ(text("subtitle"), u"One-time download from Google"_s);
    shoot("1-checking");
    ASSERT_TRUE(waitFor(Kind::failed));
    EXPECT_TRUE(visible("retryButton"));
    EXPECT_EQ(text("failureLabel"),
              u"Could not read Google's Android package list: HTTP 404 for sys-img2-3.xml"_s);
    shoot("2-failed");

    serveLists();
    server.serve(archives()[0].path, {200, archives()[0].body, -1, archives()[0].body.size() / 2, false});
    const MissingDevice missing;
    const RefusedDevice refused;
    const struct {
        const char* screenshot;
        QString device;
        Virtualisation::Status status;
    } devices[] = {
        {"3-needs-acceptance", u"/dev/null"_s, Virtualisation::Status::usable},
        {"7-kvm-not-permitted", refused.path, Virtualisation::Status::notPermitted}, // may not mount
        {"8-kvm-missing", missing.path, Virtualisation::Status::missing}};
    std::optional<ScopedEnvironment> device;
    qsizetype logStart = 0;
    for (const auto& c : devices) {
        if (c.device.isEmpty()) continue;
        SCOPED_TRACE(c.device.toStdString());
        device.emplace("VANTLE_KVM_DEVICE", c.device);
        if (provisioner.phase().kind != Kind::failed) provisioner.reset();
        server.requests.clear();
        logStart = setupLog().size();
        provisioner.phase().kind == Kind::failed ? click(&view, "retryButton") : provisioner.prepare();
        ASSERT_TRUE(waitFor(Kind::needsAcceptance));
        EXPECT_EQ(visible("virtualisationLabel"), c.status != Virtualisation::Status::usable);
        EXPECT_EQ(text("virtualisationLabel"), Virtualisation::problem(c.status));
        shoot(c.screenshot);
    }
    EXPECT_EQ(ranges("/android/repository/repository2-3.xml").size(), 1);
    EXPECT_EQ(ranges("/android/repository/sys-img/android/sys-img2-3.xml").size(), 1);
    const qint64 total = archives()[0].body.size() + archives()[1].body.size() + archives()[2].body.size();
    EXPECT_EQ(text("acceptanceLabel"),
              u"Vantle runs Android apps on Google's Android Emulator. It downloads the "
              u"emulator, platform-tools and the Android 15 system image ("_s +
                  QLocale().formattedDataSize(total) +
                  u") directly from Google after you accept Google's licence."_s);
    EXPECT_TRUE(visible("readLicenceButton"));
    EXPECT_EQ(view.findChild<QPushButton*>(u"acceptButton"_s)->text().replace(u"&&"_s, u"&"_s),
              u"Accept & Download"_s);

    click(&view, "readLicenceButton");
    ASSERT_TRUE(view.licenceSheet());
    EXPECT_EQ(view.licenceSheet()->windowTitle(), u"Google Android SDK licence"_s);
    EXPECT_TRUE(
        view.licenceSheet()->findChild<QPlainTextEdit*>()->toPlainText().contains(u"Preview terms."_s));
    shoot("4-licence-sheet", view.licenceSheet());
    click(view.licenceSheet(), "declineButton");
    EXPECT_TRUE(waitUntil([&] { return view.licenceSheet() == nullptr; }));
    EXPECT_EQ(provisioner.phase().kind, Kind::needsAcceptance); // declining changes nothing

    click(&view, "acceptButton");
    ASSERT_TRUE(view.licenceSheet());
    click(view.licenceSheet(), "sheetAcceptButton");
    provisioner.acceptAndInstall(); // a second press starts nothing
    ASSERT_TRUE(waitUntil([&] { return provisioner.phase().fraction > 0; }));
    EXPECT_EQ(text("downloadLabel"), u"Downloading Android SDK Platform-Tools…"_s);
    EXPECT_EQ(text("percentLabel"), QString::number(int(provisioner.phase().fraction * 100)) + u'%');
    EXPECT_EQ(view.findChild<QProgressBar*>(u"downloadBar"_s)->value(),
              int(provisioner.phase().fraction * 1000));
    shoot("5-downloading");
    EXPECT_NEAR(provisioner.phase().fraction, 0.5, 0.01); // held at half by the server
    provisioner.reset();                                  // ignored while downloading
    EXPECT_EQ(provisioner.phase().kind, Kind::downloading);
    EXPECT_TRUE(provisioner.plan());
    // Every installing step is on screen while it lasts (checked as each one begins), each once.
    QStringList installing;
    QObject::connect(&provisioner, &AndroidRuntimeProvisioner::phaseChanged, &view, [&] {
        if (provisioner.phase().kind != Kind::installing) return;
        if (!installing.isEmpty() && installing.last() == provisioner.phase().text) return;
        installing.append(visible("statusLabel") ? text("statusLabel") : u"(not shown)"_s);
        if (provisioner.phase().text.startsWith(u"Unpacking"_s)) shoot("6-installing");
        provisioner.reset(); // ignored while installing
    });
    server.release();
    ASSERT_TRUE(waitFor(Kind::ready)) << provisioner.phase().text.toStdString();
    EXPECT_GE(installing.size(), 7); // verify and unpack three archives, create the device
    EXPECT_FALSE(installing.contains(u"(not shown)"_s));
    EXPECT_TRUE(installing.contains(u"Unpacking Android Emulator…"_s));
    EXPECT_EQ(installing.last(), u"Creating Vantle Android device…"_s);
    EXPECT_FALSE(visible("statusLabel"));
    for (const ServedArchive& archive : archives())
        EXPECT_EQ(ranges(archive.path).size(), 1);

    EXPECT_TRUE(AndroidRuntimePaths::managed(35).isComplete());
    EXPECT_FALSE(QFileInfo::exists(Locations::runtime() + u"/downloads"_s));
    EXPECT_EQ(readFile(AndroidRuntimePaths::managed(35).sdkRoot + u"/licenses/android-sdk-license.txt"_s),
              "\nTerms of the SDK.\n");
    const QJsonObject manifest =
        QJsonDocument::fromJson(readFile(Locations::runtime() + u"/runtime-manifest.json"_s)).object();
    EXPECT_EQ(manifest.value(u"acceptedLicenses"_s).toArray(),
              QJsonArray({u"android-sdk-license"_s, u"android-sdk-preview-license"_s}));
    const QJsonArray packages = manifest.value(u"packages"_s).toArray();
    ASSERT_EQ(packages.size(), 3); // in plan order, the checksums lower-cased
    EXPECT_EQ(packages[0].toObject().value(u"sha1"_s), sha1(archives()[0].body));
    EXPECT_EQ(packages[1].toObject(),
              (QJsonObject{{u"path"_s, u"emulator"_s},
                           {u"revision"_s, u"35.3.11"_s},
                           {u"sha1"_s, sha1(archives()[1].body)},
                           {u"url"_s, server.url(u"/mirror/emulator-linux_x64-35.zip"_s).toString()}}));
    EXPECT_TRUE(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"_s)
                    .match(manifest.value(u"installedAt"_s).toString())
                    .hasMatch());
    const QStringList log = setupLog().mid(logStart);
    EXPECT_TRUE(log.contains(u"user accepted licences android-sdk-license,android-sdk-preview-license"_s));
    EXPECT_TRUE(log.contains(u"runtime ready at "_s + Locations::runtime()));
    EXPECT_EQ(
        log.filter(QRegularExpression(u"^downloaded platform-tools_r35.0.2-linux.zip in .*s$"_s)).size(), 1);
    // The disk was checked before the downloads and before each unpack, and had room.
    EXPECT_EQ(log.filter(u"plan "_s).size(), 3);
    EXPECT_EQ(log.filter(u"disk check before download need="_s).size(), 1);
    EXPECT_EQ(log.filter(u"disk check before unpacking "_s).size(), 3);
    // With KVM missing, set-up installed all the same, and said so before set-up and download.
    for (const char* when : {"set-up", "download"})
        EXPECT_TRUE(setupLog().contains(u"virtualisation before %1: %2"_s.arg(
            QLatin1StringView(when), Virtualisation::problem(Virtualisation::Status::missing))));

    // What was unpacked is a working Android.
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    EXPECT_TRUE(AndroidRuntimeCLI::deviceIsBooted());
    AndroidRuntimeCLI::killEmulator();
    waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000);
    provisioner.reset();
    provisioner.prepare();
    EXPECT_EQ(provisioner.phase().kind, Kind::ready);
}

TEST_F(ProvisionerTest, TransferFailuresEndInFailedAndARetryResumesAndKeepsVerifiedArchives) {
    const QString downloads = Locations::runtime() + u"/downloads"_s;
    const QString toolsZip = downloads + u"/platform-tools_r35.0.2-linux.zip"_s;
    provisioner.setStallTimeout(std::chrono::milliseconds(700));
    {
        SCOPED_TRACE("a list server that takes the request and never answers");
        server.serve("/android/repository/sys-img/android/sys-img2-3.xml",
                     {200, {}, -1, -1, false, {}, true});
        provisioner.prepare();
        ASSERT_TRUE(waitFor(Kind::failed));
        EXPECT_EQ(provisioner.phase().text,
                  u"Could not read Google's Android package list: no data for 0.7 s for sys-img2-3.xml"_s);
        EXPECT_EQ(setupLog().last(), u"plan failed: "_s + provisioner.phase().text);
        serveLists();
    }
    {
        SCOPED_TRACE("the partial download lands on a device that is always full");
        const QString partial = DownloadDelegate::partialPath(toolsZip);
        ASSERT_TRUE(QDir().mkpath(downloads) && QFile::link(u"/dev/full"_s, partial));
        EXPECT_EQ(failure(), u"Download failed: No space left on device"_s);
        EXPECT_EQ(setupLog().filter(u"install failed: "_s).size(), 1);
        EXPECT_FALSE(QFileInfo::exists(toolsZip));
        QFile::remove(partial);
    }
    const auto& [tools, emulator, image] = std::tuple(archives()[0], archives()[1], archives()[2]);
    // An archive that stops after 1,000 bytes (and one more a moment later): whatever arrived is
    // kept, the extra byte too when it comes after the limit on a loaded machine.
    server.serve(tools.path, {200, tools.body, -1, 1000, true});
    EXPECT_EQ(failure(), u"Download failed: no data for 0.7 s"_s);
    const qint64 kept = QFileInfo(DownloadDelegate::partialPath(toolsZip)).size();
    EXPECT_TRUE(kept == 1000 || kept == 1001) << kept;

    // The tools' next try asks only for the rest; the emulator is not found.
    server.serve(tools.path, {200, tools.body, -1, -1, true});
    server.serve(emulator.path, {404, {}});
    EXPECT_EQ(failure(), u"Download failed: HTTP 404"_s);
    EXPECT_EQ(ranges(tools.path).last(), "bytes=" + QByteArray::number(kept) + '-');

    // The emulator cut short; its kept part is resumed below with a range request.
    server.serve(emulator.path, {200, emulator.body, emulator.body.size() / 2, -1, true});
    EXPECT_TRUE(failure().startsWith(u"Download failed: "_s));

    // A wrong body: the checksum catches it and names the component.
    server.serve(image.path, {200, tools.body});
    server.serve(emulator.path, {200, emulator.body, -1, -1, true});
    server.requests.clear();
    EXPECT_EQ(failure(), u"Downloaded "_s + systemImage + u" failed its checksum. Please try again."_s);
    EXPECT_EQ(ranges(tools.path).size(), 0); // verified before, kept
    EXPECT_EQ(ranges(emulator.path),
              QList<QByteArray>{"bytes=" + QByteArray::number(emulator.body.size() / 2) + '-'});

    // Put right: only the bad archive is fetched again.
    server.serve(image.path, {200, image.body});
    server.requests.clear();
    prepareAndAccept();
    ASSERT_TRUE(waitFor(Kind::ready)) << provisioner.phase().text.toStdString();
    EXPECT_EQ(ranges(tools.path).size() + ranges(emulator.path).size(), 0);
    EXPECT_EQ(ranges(image.path).size(), 1);
}

// A home too small is refused before any download. An archive the list vouches for that then fails
// to unpack (junk, or an entry that leaves its folder) leaves nothing a later set-up would trust.
TEST_F(ProvisionerTest, ASmallDiskOrArchivesThatDoNotUnpackLeaveNothingTrusted) {
    {
        // A 64 MB tmpfs as Vantle's home; where mounting is not allowed, a query that reports as much.
        const QString small = home.filePath(u"small"_s);
        ASSERT_TRUE(QDir().mkpath(small));
        struct Mount {
            QByteArray path;
            bool mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64m") == 0;
            ~Mount() {
                if (mounted) ::umount2(path.constData(), MNT_DETACH);
            }
        } mount{QFile::encodeName(small)};
        provisioner.setFreeSpaceQuery(mount.mounted
                                          ? AndroidRuntimeProvisioner::FreeSpaceQuery()
                                          : [](const QString&) { return std::optional<qint64>(64 << 20); });
        const ScopedEnvironment smallHome("VANTLE_HOME", small);
        const QString message = failure();
        EXPECT_TRUE(message.startsWith(u"Android needs about "_s)) << message.toStdString();
        EXPECT_TRUE(message.endsWith(u" GB free in "_s + Locations::runtime() + u"; 0.0 GB are free."_s))
            << message.toStdString();
        for (const ServedArchive& archive : archives())
            EXPECT_EQ(ranges(archive.path).size(), 0);
    }
    provisioner.setFreeSpaceQuery([](const QString&) { return std::optional<qint64>(qint64(1) << 40); });
    const QByteArray hostile =
        TestArchives::zip({{u"platform-tools/adb"_s, "#!/bin/sh\n", 0755}, {u"../escaped"_s, "x"}});
    const struct {
        int archive;
        QByteArray body;
        QString message; // the reason after the name is libarchive's for the junk
    } cases[] = {
        {0, hostile,
         u"Could not unpack Android SDK Platform-Tools: its entry \"../escaped\" points outside its folder"_s},
        {2, QByteArray("PK\x03\x04 not really a zip", 22), u"Could not unpack "_s + systemImage + u": "_s}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        serveLists(c.archive == 2 ? c.body : archives()[2].body,
                   c.archive == 0 ? c.body : archives()[0].body);
        server.serve(archives()[c.archive].path, {200, c.body});
        provisioner.reset(); // drops the plan of the step before
        EXPECT_TRUE(failure().startsWith(c.message)) << provisioner.phase().text.toStdString();
        const AndroidRuntimePaths paths = AndroidRuntimePaths::managed(35);
        EXPECT_FALSE(paths.isComplete());
        for (const QString& untrusted :
             {paths.sdkRoot + u"/../escaped"_s, Locations::runtime() + u"/runtime-manifest.json"_s,
              Locations::runtime() + u"/avd/Vantle.ini"_s, c.archive == 0 ? paths.adb() : QString()})
            EXPECT_FALSE(QFileInfo::exists(untrusted)) << untrusted.toStdString();
        server.serve(archives()[c.archive].path, {200, archives()[c.archive].body});
        if (c.archive != 0) continue;
        serveLists(); // the next set-up still wants platform-tools
        provisioner.prepare();
        ASSERT_TRUE(waitFor(Kind::needsAcceptance));
        EXPECT_EQ(provisioner.plan()->archives.first().packagePath, u"platform-tools"_s);
    }
}

// The server answers from this thread, so the command runs as a process watched from the event loop.
TEST_F(ProvisionerTest, SetupCommandAsksThenInstalls) {
    const auto runSetup = [&](const QStringList& arguments, const QByteArray& input) {
        QProcess process;
        process.start(QStringLiteral(VANTLE_CTL), QStringList{u"setup"_s} + arguments);
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 30000));
        return std::pair(process.exitCode(),
                         QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()));
    };
    const auto [declinedStatus, declined] = runSetup({u"--api"_s, u"35"_s}, "n\n");
    EXPECT_EQ(declinedStatus, 1);
    EXPECT_TRUE(declined.contains(u"Terms of the SDK."_s)) << declined.toStdString();
    EXPECT_TRUE(declined.contains(u"Licences declined; nothing was downloaded."_s));
    EXPECT_FALSE(QFileInfo::exists(Locations::runtime() + u"/sdk/platform-tools"_s));

    const auto [usageStatus, usage] = runSetup({u"--api"_s, u"29"_s}, {});
    EXPECT_EQ(usageStatus, 2);
    EXPECT_TRUE(usage.contains(u"Android API 29 is not offered"_s));

    const auto [status, output] = runSetup({u"--accept-licences"_s}, {});
    EXPECT_EQ(status, 0) << output.toStdString();
    EXPECT_TRUE(output.contains(u"Android SDK Platform-Tools [##############################] 100%"_s));
    EXPECT_TRUE(output.endsWith(u"Android is ready at "_s + Locations::runtime() + u'\n'));
    EXPECT_TRUE(AndroidRuntimePaths::managed(35).isComplete());

    server.serve("/android/repository/sys-img/android/sys-img2-3.xml", {404, {}});
    QDir(Locations::runtime()).removeRecursively();
    const auto [failedStatus, failed] = runSetup({u"--accept-licences"_s}, {});
    EXPECT_EQ(failedStatus, 1);
    EXPECT_TRUE(failed.contains(
        u"vantlectl setup: Could not read Google's Android package list: HTTP 404 for sys-img2-3.xml"_s));
}
