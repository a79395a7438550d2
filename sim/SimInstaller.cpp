#include "sim/SimInstaller.h"

#include "provisioning/RuntimeInstallRecord.h"
#include "sim/EmulatorRun.h"
#include "sim/SimLayout.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char* simRevision = "1.0.0";
constexpr const char* licenseId = "vantle-sim-license";

struct Tool {
    const char* name;    // executable in the tools folder
    const char* target;  // path inside the SDK
    const char* package; // SDK package path, as in Google's repository lists
};

const Tool tools[] = {
    {"adb", "platform-tools/adb", "platform-tools"},
    {"emulator", "emulator/emulator", "emulator"},
    {"apkanalyzer", "cmdline-tools/latest/bin/apkanalyzer", "cmdline-tools;latest"},
    {"android-commands", "emulator/sim/system-bin/android-commands", nullptr},
    {"display-server", "emulator/sim/display-server", nullptr},
    {"device-adbd", "emulator/sim/system-bin/adbd", nullptr},
};

constexpr const char* debianGoogleAdb = "/usr/lib/android-sdk/platform-tools/adb";

// A link to Google's adb, swapped in by a rename like the copies below.
bool linkExecutable(const QString& source, const QString& target) {
    QDir().mkpath(QFileInfo(target).absolutePath());
    const QString temporary = target + u".new"_s;
    QFile::remove(temporary);
    return QFile::link(source, temporary) &&
           std::rename(temporary.toLocal8Bit().constData(), target.toLocal8Bit().constData()) == 0;
}

bool writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text);
    return file.commit();
}

// Copies next to the target and renames over it, so a running copy of the old executable is
// never written into.
bool installExecutable(const QString& source, const QString& target) {
    QDir().mkpath(QFileInfo(target).absolutePath());
    const QString temporary = target + u".new"_s;
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary)) return false;
    QFile::setPermissions(temporary, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                         QFile::ExeOther);
    return std::rename(temporary.toLocal8Bit().constData(), target.toLocal8Bit().constData()) == 0;
}

QString sha1(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

// "Android 12L" -> "12": the release number of the version name.
QString releaseOf(int api) {
    return SimLayout::androidVersionName(api).section(u' ', 1).remove(u'L');
}

QByteArray buildProp(int api) {
    const QString release = releaseOf(api);
    QString text;
    text += u"# Simulated Android system image (Vantle); read by getprop.\n"_s;
    text += u"ro.build.version.sdk=%1\n"_s.arg(api);
    text += u"ro.build.version.release=%1\n"_s.arg(release);
    text += u"ro.build.version.codename=REL\n"_s;
    text += u"ro.build.type=userdebug\nro.build.tags=dev-keys\nro.debuggable=1\nro.secure=1\n"_s;
    text += u"ro.product.model=sdk_gphone64_x86_64\nro.product.manufacturer=Google\n"_s;
    text += u"ro.product.brand=google\nro.product.name=sdk_gphone64_x86_64\nro.product.device=emu64x\n"_s;
    text += u"ro.product.cpu.abi=x86_64\nro.product.cpu.abilist=x86_64\nro.hardware=ranchu\n"_s;
    text += u"ro.kernel.qemu=1\nro.boot.qemu=1\n"_s;
    text += u"ro.build.fingerprint=google/sdk_gphone64_x86_64/emu64x:%1/SIM.%2/1:userdebug/dev-keys\n"_s
                .arg(release)
                .arg(api);
    return text.toUtf8();
}

// The install record of one simulated package, as the provisioner records a downloaded archive.
RuntimeArchive packageRecord(const QString& path, const QString& file, const QString& source) {
    RuntimeArchive archive;
    archive.packagePath = path;
    archive.revision = QLatin1StringView(simRevision);
    archive.sha1 = sha1(file);
    archive.url = QUrl::fromLocalFile(source);
    return archive;
}

} // namespace

namespace SimInstaller {

const QStringList& deviceCommands() {
    static const QStringList names{u"getprop"_s, u"setprop"_s, u"service"_s,    u"pm"_s,
                                   u"cmd"_s,     u"am"_s,      u"settings"_s,   u"dumpsys"_s,
                                   u"content"_s, u"input"_s,   u"screencap"_s,  u"restorecon"_s,
                                   u"su"_s,      u"chown"_s,   u"app_process"_s};
    return names;
}

QString findTools(const QString& executableFolder) {
    const QString fromEnvironment = qEnvironmentVariable("VANTLE_SIM_TOOLS");
    QStringList candidates;
    if (!fromEnvironment.isEmpty()) candidates << fromEnvironment;
    // A build tree keeps them in <build>/sim beside <build>/app; an install in
    // <prefix>/libexec/vantle/sim beside <prefix>/bin.
    candidates << executableFolder + u"/../sim"_s << executableFolder + u"/sim"_s
               << executableFolder + u"/../libexec/vantle/sim"_s;
    for (const QString& folder : candidates)
        if (QFileInfo(folder + u"/adb"_s).isExecutable() &&
            QFileInfo(folder + u"/android-commands"_s).isExecutable())
            return QDir(folder).canonicalPath();
    return {};
}

QString googleAdb() {
    const QFileInfo adb{QLatin1StringView(debianGoogleAdb)};
    return adb.isFile() && adb.isExecutable() ? adb.filePath() : QString();
}

bool usesGoogleAdb(const QString& sdk) {
    const QString google = googleAdb();
    return !google.isEmpty() && QFileInfo(sdk + u"/platform-tools/adb"_s).canonicalFilePath() ==
                                    QFileInfo(google).canonicalFilePath();
}

QString install(const SimInstallRequest& request) {
    if (request.api < minimumApi || request.api > maximumApi)
        return u"API level %1 is not offered (30 to 36)"_s.arg(request.api);
    const QString sdk = SimLayout::sdkRoot(request.runtimeRoot);
    const QString google = request.adb == SimAdb::googleWhenAvailable ? googleAdb() : QString();
    for (const Tool& tool : tools) {
        const QString target = sdk + u'/' + QLatin1StringView(tool.target);
        if (!google.isEmpty() && qstrcmp(tool.name, "adb") == 0) {
            if (!linkExecutable(google, target)) return u"Could not link %1 into %2"_s.arg(google, sdk);
            continue;
        }
        const QString source = request.toolsFolder + u'/' + QLatin1StringView(tool.name);
        if (!installExecutable(source, target)) return u"Could not install %1 into %2"_s.arg(source, sdk);
    }
    const QString bin = SimLayout::simFolder(sdk) + u"/system-bin"_s;
    for (const QString& command : deviceCommands()) {
        QFile::remove(bin + u'/' + command);
        if (!QFile::link(u"android-commands"_s, bin + u'/' + command)) return u"Could not link "_s + command;
    }

    const QString image = SimLayout::systemImageFolder(sdk, request.api);
    const QByteArray imageText = "Vantle simulated Android system image, API " +
                                 QByteArray::number(request.api) + ", " + SimLayout::abi + "\n";
    bool ok = writeText(image + u"/system.img"_s, imageText) &&
              writeText(image + u"/build.prop"_s, buildProp(request.api));
    const QByteArray properties =
        QByteArray("Pkg.Desc=Simulated by Vantle\nPkg.Revision=") + simRevision + '\n';
    for (const char* folder : {"platform-tools", "emulator", "cmdline-tools/latest"})
        ok = ok && writeText(sdk + u'/' + QLatin1StringView(folder) + u"/source.properties"_s, properties);
    ok = ok && writeText(image + u"/source.properties"_s,
                         properties + "AndroidVersion.ApiLevel=" + QByteArray::number(request.api) + '\n');

    SimConfig config = SimConfig::load(sdk);
    if (request.bootDelayMs) config.bootDelayMs = *request.bootDelayMs;
    if (request.networkDelayMs) config.networkDelayMs = *request.networkDelayMs;
    ok = ok && config.save(sdk);
    if (!ok) return u"Could not write the simulated SDK into "_s + sdk;

    // The virtual device and the install record are written by the provisioner's own code, so the
    // simulated runtime is exactly what a download leaves behind.
    const QString source = request.toolsFolder;
    const QList<RuntimeArchive> packages{
        packageRecord(u"platform-tools"_s, sdk + u"/platform-tools/adb"_s,
                      google.isEmpty() ? source + u"/adb"_s : google),
        packageRecord(u"emulator"_s, sdk + u"/emulator/emulator"_s, source + u"/emulator"_s),
        packageRecord(
            u"system-images;android-%1;default;%2"_s.arg(request.api).arg(QLatin1StringView(SimLayout::abi)),
            image + u"/system.img"_s, source + u"/android-commands"_s)};
    try {
        AndroidRuntimePaths paths = AndroidRuntimePaths::managed(request.api);
        paths.sdkRoot = sdk;
        paths.avdHome = SimLayout::avdHome(request.runtimeRoot);
        RuntimeInstallRecord::writeAVD(paths);
        RuntimeInstallRecord::writeAtomically(
            request.runtimeRoot + u"/runtime-manifest.json"_s,
            RuntimeInstallRecord::manifest(packages, {QLatin1StringView(licenseId)},
                                           QDateTime::currentDateTimeUtc()));
    } catch (const InstallWriteError& error) {
        return error.description();
    }
    const QByteArray license =
        "The simulated Android device is part of Vantle. It contains no Google software.\n";
    if (!writeText(sdk + u"/licenses/"_s + QLatin1StringView(licenseId) + u".txt"_s, license))
        return u"Could not write the licence text"_s;
    return {};
}

QString wipe(const QString& runtimeRoot, int api) {
    const QString sdk = SimLayout::sdkRoot(runtimeRoot);
    if (EmulatorRun::find(sdk, SimLayout::consolePort))
        return u"The simulated device is running; stop it first (adb emu kill)"_s;
    const QString folder = SimLayout::avdFolder(SimLayout::avdHome(runtimeRoot), SimLayout::avdName(api));
    QDir device(folder + u"/device"_s);
    if (device.exists() && !device.removeRecursively()) return u"Could not delete "_s + device.path();
    return {};
}

} // namespace SimInstaller
