#include "sim/SimInstaller.h"

#include "sim/EmulatorRun.h"
#include "sim/SimLayout.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
};

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

// The AVD files, line for line as Vantle's provisioner writes them, with this host's ABI.
bool writeAvd(const QString& avdHome, const QString& name, int api) {
    const QString folder = SimLayout::avdFolder(avdHome, name);
    if (!QDir().mkpath(folder)) return false;
    const QString pointer =
        u"avd.ini.encoding=UTF-8\npath=%1\npath.rel=avd/%2.avd\ntarget=android-%3\n"_s.arg(folder)
            .arg(name)
            .arg(api);
    const QString abi = QLatin1StringView(SimLayout::abi);
    const QStringList lines{u"AvdId="_s + name,
                            u"avd.ini.displayname=Vantle "_s + SimLayout::androidVersionName(api),
                            u"avd.ini.encoding=UTF-8"_s,
                            u"PlayStore.enabled=false"_s,
                            u"abi.type="_s + abi,
                            u"disk.dataPartition.size=6442450944"_s,
                            u"fastboot.forceColdBoot=no"_s,
                            u"fastboot.forceFastBoot=yes"_s,
                            u"hw.accelerometer=no"_s,
                            u"hw.audioInput=no"_s,
                            u"hw.audioOutput=yes"_s,
                            u"hw.battery=yes"_s,
                            u"hw.camera.back=none"_s,
                            u"hw.camera.front=none"_s,
                            u"hw.cpu.arch="_s + abi,
                            u"hw.cpu.ncore=4"_s,
                            u"hw.dPad=no"_s,
                            u"hw.gps=no"_s,
                            u"hw.gpu.enabled=yes"_s,
                            u"hw.gpu.mode=host"_s,
                            u"hw.keyboard=yes"_s,
                            u"hw.lcd.density=420"_s,
                            u"hw.lcd.height=2400"_s,
                            u"hw.lcd.width=1080"_s,
                            u"hw.mainKeys=no"_s,
                            u"hw.ramSize=2048"_s,
                            u"hw.sdCard=no"_s,
                            u"hw.sensors.orientation=no"_s,
                            u"hw.sensors.proximity=no"_s,
                            u"hw.trackBall=no"_s,
                            u"image.sysdir.1=system-images/android-%1/default/%2/"_s.arg(api).arg(abi),
                            u"tag.display=Default Android System Image"_s,
                            u"tag.id=default"_s,
                            u"vm.heapSize=256"_s};
    // A config.ini edited since (hardware settings) keeps its lines; only a missing one is written.
    const QString config = folder + u"/config.ini"_s;
    const bool configOk = QFile::exists(config) || writeText(config, (lines.join(u'\n') + u'\n').toUtf8());
    return writeText(avdHome + u'/' + name + u".ini"_s, pointer.toUtf8()) && configOk;
}

QJsonObject packageRecord(const QString& path, const QString& file, const QString& source) {
    return QJsonObject{{u"path"_s, path},
                       {u"revision"_s, QLatin1StringView(simRevision)},
                       {u"sha1"_s, sha1(file)},
                       {u"url"_s, QUrl::fromLocalFile(source).toString()}};
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
    candidates << executableFolder + u"/../sim"_s << executableFolder + u"/sim"_s;
    for (const QString& folder : candidates)
        if (QFileInfo(folder + u"/adb"_s).isExecutable() &&
            QFileInfo(folder + u"/android-commands"_s).isExecutable())
            return QDir(folder).canonicalPath();
    return {};
}

QString install(const SimInstallRequest& request) {
    if (request.api < minimumApi || request.api > maximumApi)
        return u"API level %1 is not offered (30 to 36)"_s.arg(request.api);
    const QString sdk = SimLayout::sdkRoot(request.runtimeRoot);
    for (const Tool& tool : tools) {
        const QString source = request.toolsFolder + u'/' + QLatin1StringView(tool.name);
        if (!installExecutable(source, sdk + u'/' + QLatin1StringView(tool.target)))
            return u"Could not install %1 into %2"_s.arg(source, sdk);
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

    const QString avdHome = SimLayout::avdHome(request.runtimeRoot);
    if (!writeAvd(avdHome, SimLayout::avdName(request.api), request.api))
        return u"Could not write the virtual device into "_s + avdHome;

    const QString source = request.toolsFolder;
    const QJsonArray packages{
        packageRecord(u"platform-tools"_s, sdk + u"/platform-tools/adb"_s, source + u"/adb"_s),
        packageRecord(u"emulator"_s, sdk + u"/emulator/emulator"_s, source + u"/emulator"_s),
        packageRecord(
            u"system-images;android-%1;default;%2"_s.arg(request.api).arg(QLatin1StringView(SimLayout::abi)),
            image + u"/system.img"_s, source + u"/android-commands"_s)};
    const QJsonObject manifest{{u"installedAt"_s, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                               {u"acceptedLicenses"_s, QJsonArray{QLatin1StringView(licenseId)}},
                               {u"packages"_s, packages}};
    // Sorted keys: QJsonObject keeps its members sorted.
    if (!writeText(request.runtimeRoot + u"/runtime-manifest.json"_s, QJsonDocument(manifest).toJson()))
        return u"Could not write runtime-manifest.json"_s;
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
