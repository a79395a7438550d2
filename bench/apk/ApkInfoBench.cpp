// Reading package, label and icon of a set of APKs three ways, in the same run (and the zip
// container's share: opening the APK and reading manifest and table):
//   in process   APKManifestReader::packageName + APKIconExtractor::label + the icon PNG, per APK
//   one call     `vantlectl apk-info <every APK>`, the whole set in one process
//   aapt loop    `aapt dump badging <apk>`, one process per APK (what a shell script would do)
// Goals: in process per APK under a fifth of aapt's per-file time (for the large framework-res.apk:
// no slower than aapt); the one call at least 3x faster than the aapt loop over the set.
// Usage: apk_info_bench [rounds] [apk...]
//   Without APKs: the test fixtures, each listed eight times, then Android's framework-res.apk
//   (android-framework-res) on its own as a large real APK.
#include "apk/APKIconExtractor.h"
#include "apk/AppIconStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The committed fixtures, each listed `copies` times: enough files for one process start to be
// shared over a set the size of a real library.
QStringList fixtureSet(int copies) {
    QStringList apks;
    const QDir fixtures(QStringLiteral(VANTLE_APK_FIXTURES));
    const QStringList names = fixtures.entryList({u"*.apk"_s}, QDir::Files, QDir::Name);
    for (int copy = 0; copy < copies; ++copy)
        for (const QString& name : names)
            apks.append(fixtures.filePath(name));
    return apks;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// Milliseconds for one run of `program` with `arguments`; -1 when it cannot run or fails.
double timeProcess(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit) return -1;
    return timer.nsecsElapsed() / 1e6;
}

// One APK as `vantlectl apk-info` reads it: package, label, icon PNG (or the file-name fallback).
// CPU milliseconds used so far by this process, and by its finished children (aapt, vantlectl).
// On a machine shared with builds, wall times swell with the queue; CPU time mostly does not.
double ownCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}
double childrenCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

bool readOne(const QString& apk) {
    APKIconExtractor::Summary summary = APKIconExtractor::summarize(apk);
    if (!summary.icon) {
        if (auto fallback = AppIconStore::fallbackIcon(apk, MobilePlatform::android))
            summary.icon = APKIconExtractor::IconChoice{fallback->png, fallback->entry};
    }
    return summary.package.has_value() || summary.label.has_value() || summary.icon.has_value();
}

void measure(const char* title, const QStringList& apks, int rounds) {
    const QString vantlectl = QStringLiteral(VANTLE_CTL_PATH);
    const QString aapt = u"/usr/bin/aapt"_s;
    std::printf("%s: %lld APKs, %d rounds (medians)\n", title, qlonglong(apks.size()), rounds);
    QList<double> container, inProcess, inProcessCpu, oneCall, aaptLoop, aaptCpu;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (const QString& apk : apks)
            (void)APKIconExtractor::ApkArchive(apk).readMany({u"AndroidManifest.xml"_s, u"resources.arsc"_s});
        container.append(timer.nsecsElapsed() / 1e6);
        timer.restart();
        const double cpuBefore = ownCpuMs();
        int readable = 0;
        for (const QString& apk : apks)
            readable += readOne(apk) ? 1 : 0;
        inProcess.append(timer.nsecsElapsed() / 1e6);
        inProcessCpu.append(ownCpuMs() - cpuBefore);
        if (round == 0 && readable != apks.size())
            std::printf("  note: %d of %lld APKs gave nothing\n", int(apks.size() - readable),
                        qlonglong(apks.size()));
        oneCall.append(timeProcess(vantlectl, QStringList{u"apk-info"_s, u"--json"_s} + apks));
        if (QFileInfo(aapt).isExecutable()) {
            double total = 0;
            const double childrenBefore = childrenCpuMs();
            for (const QString& apk : apks)
                total += timeProcess(aapt, {u"dump"_s, u"badging"_s, apk});
            aaptLoop.append(total);
            aaptCpu.append(childrenCpuMs() - childrenBefore);
        }
    }
    const double perApkInProcess = median(inProcess) / apks.size();
    std::printf("  container alone:     %8.3f ms per APK (open, manifest and resources.arsc)\n",
                median(container) / apks.size());
    std::printf("  in process:          %8.3f ms per APK (%.1f ms for the set), CPU %.3f ms per APK\n",
                perApkInProcess, median(inProcess), median(inProcessCpu) / apks.size());
    std::printf("  vantlectl, one call: %8.1f ms for the set\n", median(oneCall));
    if (aaptLoop.isEmpty()) {
        std::printf("  aapt: not installed (apt-get install aapt), no comparison\n");
        return;
    }
    const double perApkAapt = median(aaptLoop) / apks.size();
    std::printf("  aapt dump badging:   %8.1f ms for the set, %.3f ms per APK, CPU %.3f ms per APK\n",
                median(aaptLoop), perApkAapt, median(aaptCpu) / apks.size());
    std::printf("  in process / aapt per APK:      %.3f (goal: under 0.2)\n", perApkInProcess / perApkAapt);
    std::printf("  aapt loop / one vantlectl call: %.2fx (goal: at least 3x)\n",
                median(aaptLoop) / median(oneCall));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    qputenv("VANTLE_HOME", QDir::temp().filePath(u"vantle-apk-bench"_s).toUtf8()); // trace lines go there
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const int rounds = arguments.isEmpty() ? 5 : std::max(1, arguments.takeFirst().toInt());
    if (!arguments.isEmpty()) {
        measure("given APKs", arguments, rounds);
        return 0;
    }
    measure("fixtures x8", fixtureSet(8), rounds);
    const QString framework = u"/usr/share/android-framework-res/framework-res.apk"_s;
    if (QFileInfo::exists(framework))
        measure("framework-res.apk (45 MB, 7,600 entries)", {framework}, rounds);
    return 0;
}
