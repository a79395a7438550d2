// An Android download of 100 MB copied to the desktop by DownloadSync (two polls, then the pull),
// with this process's peak resident memory before and after: the copy streams through adb into a
// file and must not grow it. Prints its figures; run from a build folder: bench/files/download_copy_bench
// [MB].
#include "bench/support/PrivateAndroidNetwork.h"
#include "bench/support/SimulatedAndroid.h"
#include "bench/support/StopsAndroid.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "integrations/DownloadSync.h"
#include "platform/Locations.h"
#include "platform/linux/SettingsFile.h"
#include "sim/SimControl.h"
#include "sim/SimInstaller.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct NoNotifier final : Notifier {
    void post(const QString&, const QString&, const QString&, const std::optional<QUuid>&,
              const QString&) override {}
};

double peakMB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const PrivateAndroidNetwork network("download_copy_bench");
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QCoreApplication application(argc, argv);
    const StopsAndroid stopsAndroid; // before the home folder goes
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100;
    VantleSettings::install(std::make_shared<SettingsFile>(home.filePath(u"settings.json"_s)));
    if (!layOutSimulatedAndroid("download_copy_bench")) return 1;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());

    // Written into the device in 1 MiB pieces, so this process never holds the file.
    const QString onDevice = SimControl(Locations::runtime(), 35).dataRoot() + u"/media/0/Download/big.bin"_s;
    {
        QFile file(onDevice);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        const QByteArray piece(1 << 20, 'v');
        for (qint64 i = 0; i < megabytes; ++i)
            file.write(piece);
    }

    SeenDownloads seen;
    seen.insert({}); // not the first run
    NoNotifier notifier;
    DownloadSync sync(seen, notifier);
    bool saved = false;
    sync.onSaved = [&](const QString&, const QString&) { saved = true; };
    const double before = peakMB(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    sync.poll(); // first sighting
    waitFor([&] { return !sync.isPolling(); }, 30000);
    const double listedMs = double(timer.nsecsElapsed()) / 1e6;
    sync.poll(); // the same size: copied
    if (!waitFor([&] { return saved; }, 300000)) {
        std::fprintf(stderr, "download_copy_bench: the copy did not finish\n");
        return 1;
    }
    const double totalMs = double(timer.nsecsElapsed()) / 1e6;
    const qint64 copied = QFileInfo(Locations::downloads() + u"/big.bin"_s).size();
    std::printf("download of %lld MB copied: %lld bytes in %.0f ms (first listing %.0f ms), %.1f MB/s\n",
                static_cast<long long>(megabytes), static_cast<long long>(copied), totalMs, listedMs,
                double(copied) / 1048576.0 / ((totalMs - listedMs) / 1000.0));
    std::printf("peak RSS of this process: %.1f MB before the copy, %.1f MB after (+%.1f MB)\n", before,
                peakMB(RUSAGE_SELF), peakMB(RUSAGE_SELF) - before);
    std::printf("largest child process (adb and the device shell) peak RSS: %.1f MB\n",
                peakMB(RUSAGE_CHILDREN));
    return copied == megabytes * 1048576 ? 0 : 1;
}
