#include "provisioning/RuntimeInstallRecord.h"

#include "provisioning/AndroidVersions.h"
#include "runtime/HostDescription.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

namespace RuntimeInstallRecord {

void writeAtomically(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        throw InstallWriteError(path);
}

// The emulator reads these two files; the keys are the ones Android Studio's device manager writes
// for a default (no Play Store) image.
void writeAVD(const AndroidRuntimePaths& paths) {
    if (!paths.avdHome) return;
    const QString home = *paths.avdHome;
    const QString& name = paths.avdName;
    const QString folder = home + u'/' + name + u".avd"_s;
    if (!QDir().mkpath(folder)) throw InstallWriteError(folder);
    const HostDescription& host = HostDescription::current();

    const QString pointer =
        u"avd.ini.encoding=UTF-8\npath=%1\npath.rel=avd/%2.avd\ntarget=android-%3\n"_s.arg(
            QDir(folder).absolutePath(), name, QString::number(paths.api));
    writeAtomically(home + u'/' + name + u".ini"_s, pointer.toUtf8());

    const QStringList lines{
        u"AvdId="_s + name,
        u"avd.ini.displayname=Vantle "_s + AndroidVersions::name(paths.api),
        u"avd.ini.encoding=UTF-8"_s,
        u"PlayStore.enabled=false"_s,
        u"abi.type="_s + host.systemImageABI,
        u"disk.dataPartition.size=6442450944"_s,
        u"fastboot.forceColdBoot=no"_s,
        u"fastboot.forceFastBoot=yes"_s,
        u"hw.accelerometer=no"_s,
        u"hw.audioInput=no"_s,
        u"hw.audioOutput=yes"_s,
        u"hw.battery=yes"_s,
        u"hw.camera.back=none"_s,
        u"hw.camera.front=none"_s,
        u"hw.cpu.arch="_s + host.avdCpuArch,
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
        u"image.sysdir.1=system-images/android-%1/default/%2/"_s.arg(paths.api).arg(host.systemImageABI),
        u"tag.display=Default Android System Image"_s,
        u"tag.id=default"_s,
        u"vm.heapSize=256"_s};
    writeAtomically(folder + u"/config.ini"_s, (lines.join(u'\n') + u'\n').toUtf8());
}

QByteArray manifest(const QList<RuntimeArchive>& archives, const QStringList& acceptedLicenses,
                    const QDateTime& installedAt) {
    QJsonArray packages;
    for (const RuntimeArchive& archive : archives)
        packages.append(QJsonObject{{u"path"_s, archive.packagePath},
                                    {u"revision"_s, archive.revision},
                                    {u"sha1"_s, archive.sha1},
                                    {u"url"_s, archive.url.toString()}});
    // QJsonObject keeps its keys sorted, which is the order the record is written in.
    const QJsonObject record{{u"installedAt"_s, installedAt.toUTC().toString(Qt::ISODate)},
                             {u"acceptedLicenses"_s, QJsonArray::fromStringList(acceptedLicenses)},
                             {u"packages"_s, packages}};
    return QJsonDocument(record).toJson(QJsonDocument::Indented);
}

} // namespace RuntimeInstallRecord
