// Backup and restore of an app whose data folder holds N MiB (default 100) on the simulated
// Android: the time of the backup and of the restore, the size of the backup file, and the peak
// memory of Vantle's process (and of the largest child, adb and the device's tools). The backup
// file, its checks and its unpacking stream, so the peak must not grow with N: compare
//   bench/backup/backup_bench 100   and   bench/backup/backup_bench 1024
// Run from a build folder.
#include "bench/support/PrivateAndroidNetwork.h"
#include "bench/support/SimulatedAndroid.h"
#include "bench/support/StopsAndroid.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "datacare/AppBackup.h"
#include "platform/Locations.h"
#include "platform/linux/SettingsFile.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimInstaller.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

long peakMiB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024;
}

QString root(const QString& script) {
    return AndroidRuntimeCLI::runADB({u"shell"_s, AppBackup::rootCommand(script)}).value_or(QString());
}

} // namespace

int main(int argc, char** argv) {
    const PrivateAndroidNetwork network("backup_bench");
    QCoreApplication application(argc, argv);
    const int mebibytes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100;
    if (mebibytes <= 0) {
        std::fprintf(stderr, "usage: backup_bench [MiB of app data]\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    const StopsAndroid stopsAndroid; // before the home folder goes
    VantleSettings::install(std::make_shared<SettingsFile>(home.filePath(u"settings.json"_s)));
    if (!layOutSimulatedAndroid("backup_bench")) return 1;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    const QString package = u"org.vantle.sim.notes"_s;
    AndroidRuntimeCLI::runADB({u"install"_s, QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk")});
    // Incompressible data, as photos and databases mostly are, in the app's own files.
    root(
        u"cd /data/data/%1 && mkdir -p files && head -c %2M /dev/urandom > files/blob && chown -R $(stat -c %u .) files"_s
            .arg(package)
            .arg(mebibytes));
    const long before = peakMiB(RUSAGE_SELF);

    const auto backupStart = Clock::now();
    const AppBackup::Outcome backup = AppBackup::backup(package, u"Notes"_s);
    const double backupSeconds = seconds(backupStart);
    if (!backup.isDone()) {
        std::fprintf(stderr, "backup_bench: backup failed: %s\n", qPrintable(backup.message));
        return 1;
    }
    const auto restoreStart = Clock::now();
    const AppBackup::RestoreResult restore = AppBackup::restore(backup.file);
    const double restoreSeconds = seconds(restoreStart);
    if (!restore.outcome.isDone()) {
        std::fprintf(stderr, "backup_bench: restore failed: %s\n", qPrintable(restore.outcome.message));
        return 1;
    }
    std::printf("app data:            %d MiB\n", mebibytes);
    std::printf("backup file:         %.1f MiB\n", double(QFileInfo(backup.file).size()) / (1 << 20));
    std::printf("backup:              %.2f s\n", backupSeconds);
    std::printf("restore:             %.2f s\n", restoreSeconds);
    std::printf("round trip:          %.2f s\n", backupSeconds + restoreSeconds);
    std::printf("peak RSS, Vantle:    %ld MiB (%ld MiB before the backup)\n", peakMiB(RUSAGE_SELF), before);
    std::printf("peak RSS, children:  %ld MiB (largest child process)\n", peakMiB(RUSAGE_CHILDREN));
    return 0;
}
