// What an open app costs while it streams: real app windows on the simulated Android (each one a
// live 60 fps display), opened through the open-app flow, measured per video surface and window
// count: CPU time of this process per displayed frame and per second, frames shown against frames
// decoded, and resident memory. Run it on an X server, e.g.
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/windows/window_cost_bench [seconds]
// Each configuration runs in a child process of its own (the surface is chosen once per process,
// and memory figures must not carry over); the parent prints the table.
#include "apk/ApkFile.h"
#include "bench/support/PrivateAndroidNetwork.h"
#include "bench/support/SimulatedAndroid.h"
#include "bench/support/StopsAndroid.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "openapp/OpenAppFlow.h"
#include "platform/Locations.h"
#include "platform/linux/SettingsFile.h"
#include "sim/SimInstaller.h"
#include "stream/AndroidStreamClient.h"
#include "stream/AndroidVideoView.h"
#include "stream/VideoSurface.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int warmUpMs = 2000;

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs the event loop for `ms`, blocking while there is nothing to do (a polling loop would be
// measured as the window's cost).
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// User + system time of every thread of this process (children, like the server's adb, not).
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long statusKilobytes(const char* field) {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QRegularExpression line(QLatin1StringView(field) + u":\\s+(\\d+) kB"_s);
    const auto match = line.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}

struct Configuration {
    const char* surface; // VANTLE_VIDEO_SURFACE, or "" for the machine's own choice
    int windows;
    bool hidden;
};

// Child: boots its own simulated Android, opens `windows` apps side by side, lets them stream for
// a warm-up, then measures for `seconds`. Prints one "result" line for the parent.
int measure(const Configuration& configuration, int seconds, int argc, char** argv) {
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QApplication application(argc, argv);
    const StopsAndroid stopsAndroid; // before the home folder goes
    VantleSettings::install(std::make_shared<SettingsFile>(home.filePath(u"settings.json"_s)));
    VantleSettings::set(u"VantleForwardAudio"_s, false); // no sound device on a build machine
    VantleSettings::set(SettingsKeys::singleApp.name, false);
    VantleSettings::set(SettingsKeys::autoHide.name, false); // windows opened later take the focus
    VantleSettings::set(u"VantleIdleShutdownMinutes"_s, 0.0);
    VantleSettings::set(SettingsKeys::androidAPI.name, qint64(36));
    qputenv("VANTLE_BUNDLE", VANTLE_BUILD_BRIDGE);
    // API 36, so that the "future" app (minimum SDK 36) installs as the third app.
    if (!layOutSimulatedAndroid("window_cost_bench", 36)) return 1;
    AppLibraryStore store(AppLibraryStore::Seams{{}, &ApkFile::read});
    OpenAppFlow flow(store);
    const char* apks[] = {"notes.apk", "weather.apk", "future.apk"};
    for (int i = 0; i < configuration.windows; ++i)
        store.addFiles(
            {QUrl::fromLocalFile(QStringLiteral(VANTLE_SIM_TEST_DATA "/") + QLatin1StringView(apks[i]))});
    if (!waitUntil([&] { return store.apps().size() == configuration.windows; }, 10000)) return 1;
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());

    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    struct Window {
        AndroidWindowSession* session;
        int shown = 0;
    };
    std::vector<Window> windows;
    windows.reserve(size_t(configuration.windows));
    QObject observer;
    for (const MobileApp& app : store.apps()) {
        flow.launch(app);
        if (!waitUntil([&] { return registry.session(app.id) != nullptr; }, 30000)) {
            std::fprintf(stderr, "window_cost_bench: no window (%s)\n", qPrintable(store.statusMessage()));
            return 1;
        }
        Window& window = windows.emplace_back(Window{registry.session(app.id)});
        window.session->panel()->move(20 + 420 * int(windows.size() - 1), 20);
        QObject::connect(window.session->videoView(), &AndroidVideoView::frameShown, &observer,
                         [&window] { ++window.shown; });
    }
    for (Window& window : windows)
        if (!waitUntil([&] { return window.shown > 0; }, 30000)) {
            std::fprintf(stderr, "window_cost_bench: no frame on screen\n");
            return 1;
        }
    if (configuration.hidden)
        for (Window& window : windows)
            window.session->hide();
    runFor(warmUpMs); // the display resize settles, caches fill

    const auto received = [&] {
        uint64_t sum = 0;
        for (const Window& window : windows)
            sum += window.session->videoView()->frameRenderer()->counts().decoded;
        return sum;
    };
    const auto shown = [&] {
        long sum = 0;
        for (const Window& window : windows)
            sum += window.shown;
        return sum;
    };
    const uint64_t receivedBefore = received();
    const long shownBefore = shown();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    runFor(seconds * 1000);
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const QSize video = windows.front().session->client()->videoSize();
    std::printf("result received=%llu shown=%ld cpu=%.4f elapsed=%.4f rss=%ld hwm=%ld video=%dx%d\n",
                static_cast<unsigned long long>(received() - receivedBefore), shown() - shownBefore, cpu,
                elapsed, statusKilobytes("VmRSS"), statusKilobytes("VmHWM"), video.width(), video.height());
    std::fflush(stdout);
    // VANTLE_BENCH_SHOTS=<folder>: the first window as the X server shows it, to compare surfaces.
    if (const QString shots = qEnvironmentVariable("VANTLE_BENCH_SHOTS");
        !shots.isEmpty() && !configuration.hidden) {
        const QString surface = qEnvironmentVariable("VANTLE_VIDEO_SURFACE", u"default"_s);
        const QRect frame = windows.front().session->panel()->frameGeometry();
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(),
                                                                          frame.width(), frame.height());
        if (!shot.save(shots + u"/window-"_s + surface + u".png"_s))
            std::fprintf(stderr, "screenshot not saved\n");
    }
    for (Window& window : windows)
        window.session->close(u"close button"_s);
    waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
    return 0;
}

struct Result {
    double received = 0, shown = 0, cpu = 0, elapsed = 0;
    long rss = 0, hwm = 0;
    QString video;
};

std::optional<Result> runChild(const Configuration& configuration, int seconds) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (*configuration.surface)
        environment.insert(u"VANTLE_VIDEO_SURFACE"_s, QLatin1StringView(configuration.surface));
    else
        environment.remove(u"VANTLE_VIDEO_SURFACE"_s);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QFile::symLinkTarget(u"/proc/self/exe"_s),
                {u"--measure"_s, QString::number(configuration.windows),
                 configuration.hidden ? u"hidden"_s : u"shown"_s, QString::number(seconds)});
    if (!child.waitForFinished((seconds + 120) * 1000)) {
        child.kill();
        child.waitForFinished();
        return std::nullopt;
    }
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    static const QRegularExpression line(
        uR"(result received=(\d+) shown=(\d+) cpu=([\d.]+) elapsed=([\d.]+) )"
        uR"(rss=(\d+) hwm=(\d+) video=(\S+))"_s);
    const auto match = line.match(output);
    if (child.exitCode() != 0 || !match.hasMatch()) return std::nullopt;
    return Result{match.captured(1).toDouble(),
                  match.captured(2).toDouble(),
                  match.captured(3).toDouble(),
                  match.captured(4).toDouble(),
                  match.captured(5).toLong(),
                  match.captured(6).toLong(),
                  match.captured(7)};
}

double loadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

} // namespace

int main(int argc, char** argv) {
    const PrivateAndroidNetwork network("window_cost_bench");
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(
            stderr,
            "window_cost_bench needs an X server, e.g. xvfb-run -a -s \"-screen 0 1280x1024x24\" %s\n",
            argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    if (argc >= 5 && qstrcmp(argv[1], "--measure") == 0) {
        const Configuration configuration{"", std::atoi(argv[2]), qstrcmp(argv[3], "hidden") == 0};
        return measure(configuration, std::atoi(argv[4]), 1, argv);
    }
    const int seconds = argc >= 2 ? std::max(2, std::atoi(argv[1])) : 10;
    QString renderer, chosen;
    {
        QGuiApplication probe(argc, argv);
        renderer = VideoSurface::probeOpenGLRenderer().value_or(u"(no OpenGL context)"_s);
        chosen = VideoSurface::preferredKind() == VideoSurface::Kind::openGL ? u"OpenGL"_s : u"software"_s;
    }
    std::printf("OpenGL renderer: %s; surface chosen by default: %s\n", qPrintable(renderer),
                qPrintable(chosen));
    std::printf(
        "each app: a live 60 fps display; figures over %d s after a %d ms warm-up; load average at start "
        "%.2f\n\n",
        seconds, warmUpMs, loadAverage());
    std::printf("%-22s %7s %9s %9s %12s %10s %8s %8s\n", "surface", "windows", "received", "shown",
                "CPU ms/shown", "CPU %core", "RSS MB", "peak MB");
    const Configuration configurations[] = {
        {"opengl", 1, false},   {"software", 1, false}, {"", 1, false},      {"opengl", 3, false},
        {"software", 3, false}, {"", 3, false},         {"opengl", 1, true}, {"software", 1, true},
    };
    int failures = 0;
    for (const Configuration& configuration : configurations) {
        QString name = *configuration.surface ? QString::fromLatin1(configuration.surface)
                                              : u"default ("_s + chosen + u")"_s;
        if (configuration.hidden) name += u", hidden"_s;
        // A loaded machine sometimes misses a start-up deadline of the simulated device: one retry.
        std::optional<Result> result = runChild(configuration, seconds);
        if (!result) result = runChild(configuration, seconds);
        if (!result) {
            std::printf("%-22s %7d   (failed)\n", qPrintable(name), configuration.windows);
            ++failures;
            continue;
        }
        const double perShown = result->shown > 0 ? result->cpu * 1000 / result->shown : 0;
        std::printf("%-22s %7d %9.0f %9.0f %12.2f %10.1f %8.1f %8.1f   (%s, load %.2f)\n", qPrintable(name),
                    configuration.windows, result->received / result->elapsed * 1.0,
                    result->shown / result->elapsed, perShown, result->cpu / result->elapsed * 100,
                    result->rss / 1024.0, result->hwm / 1024.0, qPrintable(result->video), loadAverage());
        std::fflush(stdout);
    }
    std::printf("\nreceived and shown: frames per second, all windows together\n");
    return failures == 0 ? 0 : 1;
}
