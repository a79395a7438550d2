// The simulated Android Emulator: started with Vantle's emulator command line, it becomes the
// running device of its SDK until "adb emu kill" or a signal. It claims the console port, lays out
// the device's folders, announces itself to adb (listed "offline" at once), completes the boot
// after the configured delay and reports a validated network after a further delay.
#include "platform/Virtualisation.h"
#include "sim/AvdConfig.h"
#include "sim/DeviceShell.h"
#include "sim/DeviceState.h"
#include "sim/EmulatorRun.h"
#include "sim/SimLayout.h"
#include "sim/adbd/AdbDaemon.h"
#include "sim/adbd/EmulatorConsole.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Options {
    QString avd;
    int port = SimLayout::consolePort;
    bool listAvds = false;
};

int fail(const char* level, const QString& message) {
    std::fprintf(stderr, "%s | %s\n", level, qPrintable(message));
    return 1;
}

// Flags that take a value, as the real emulator's command line has them; the rest stand alone.
bool takesValue(const QString& flag) {
    static const QStringList withValue{u"-port"_s,        u"-gpu"_s,          u"-memory"_s,   u"-cores"_s,
                                       u"-camera-back"_s, u"-camera-front"_s, u"-netdelay"_s, u"-netspeed"_s,
                                       u"-dns-server"_s,  u"-skin"_s,         u"-sysdir"_s,   u"-datadir"_s,
                                       u"-avd"_s};
    return withValue.contains(flag);
}

std::optional<Options> parse(const QStringList& arguments, QString& error) {
    static const QStringList standalone{u"-no-window"_s, u"-no-boot-anim"_s,     u"-no-snapshot"_s,
                                        u"-no-audio"_s,  u"-no-snapshot-save"_s, u"-no-snapshot-load"_s,
                                        u"-wipe-data"_s, u"-read-only"_s,        u"-verbose"_s,
                                        u"-list-avds"_s, u"-no-metrics"_s};
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith(u'@')) {
            options.avd = argument.mid(1);
        } else if (takesValue(argument)) {
            if (i + 1 >= arguments.size()) {
                error = u"Missing argument for option: %1"_s.arg(argument);
                return std::nullopt;
            }
            const QString value = arguments[++i];
            if (argument == u"-avd"_s) options.avd = value;
            if (argument == u"-port"_s) {
                bool ok = false;
                options.port = value.toInt(&ok);
                if (!ok || options.port < 5554 || options.port > 5682 || options.port % 2 != 0) {
                    error = u"Invalid console port: %1"_s.arg(value);
                    return std::nullopt;
                }
            }
        } else if (standalone.contains(argument)) {
            if (argument == u"-list-avds"_s) options.listAvds = true;
        } else {
            error = u"Unknown option: %1"_s.arg(argument);
            return std::nullopt;
        }
    }
    if (options.avd.isEmpty() && !options.listAvds) {
        error = u"No AVD specified. Use '@foo' or '-avd foo' to launch a virtual device named 'foo'"_s;
        return std::nullopt;
    }
    return options;
}

QString avdHome() {
    const QString fromEnvironment = qEnvironmentVariable("ANDROID_AVD_HOME");
    return fromEnvironment.isEmpty() ? QDir::homePath() + u"/.android/avd"_s : fromEnvironment;
}

QString sdkRoot() {
    for (const char* name : {"ANDROID_SDK_ROOT", "ANDROID_HOME"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty()) return value;
    }
    return SimLayout::sdkOfExecutable(1);
}

// The folders Android has on a fresh device; /sdcard is data/media/0.
void prepareDevice(const QString& data) {
    for (const char* folder : {"app", "data", "local/tmp", "system/sim", "media/0/Download",
                               "media/0/Pictures", "media/0/Music", "media/0/Movies", "media/0/DCIM",
                               "media/0/Documents", "media/0/Android/data", "media/0/Android/media"})
        QDir().mkpath(data + u'/' + QLatin1StringView(folder));
}

void writeRuntime(DeviceState& state, const AvdConfig& avd, bool booted, bool network) {
    QJsonObject hardware;
    for (auto it = avd.values.begin(); it != avd.values.end(); ++it)
        if (it.key().startsWith(u"hw."_s)) hardware.insert(it.key(), it.value());
    const QJsonObject runtime{{u"api"_s, avd.api},
                              {u"bootCompleted"_s, booted},
                              {u"networkValidated"_s, network},
                              {u"hardware"_s, hardware}};
    state.writeFile("runtime.json", QJsonDocument(runtime).toJson());
}

// An x86_64 image needs KVM. The simulated device does not, unless VANTLE_SIM_KVM_DEVICE names a
// device for it to require: then it probes that one in place of /dev/kvm and, when it is
// unusable, refuses the way Google's emulator does (its lines, exit status 1).
bool accelerationRefused() {
    const QString device = qEnvironmentVariable("VANTLE_SIM_KVM_DEVICE");
    if (device.isEmpty()) return false;
    const Virtualisation::Status status = Virtualisation::check(device);
    if (status == Virtualisation::Status::usable) return false;
    std::fprintf(stderr, "ERROR   | x86_64 emulation currently requires hardware acceleration!\n");
    if (status == Virtualisation::Status::missing)
        std::fprintf(stderr,
                     "CPU acceleration status: /dev/kvm is not found: VT disabled in BIOS or KVM kernel "
                     "module not loaded\n");
    else
        std::fprintf(stderr,
                     "CPU acceleration status: This user doesn't have permissions to use KVM (/dev/kvm).\n"
                     "If the current user has KVM permissions,\n"
                     "the KVM line in /etc/group should end with \":\" followed by your username.\n");
    std::fprintf(stderr, "More info on configuring VM acceleration on Linux:\n"
                         "https://developer.android.com/studio/run/emulator-acceleration#vm-linux\n"
                         "General information on acceleration: "
                         "https://developer.android.com/studio/run/emulator-acceleration.\n");
    return true;
}

bool faultSet(const DeviceState& state, const QString& name) {
    return state.read().value(u"faults"_s).toObject().value(name).toBool();
}

// Waits for a stop signal for at most `ms` milliseconds; true when one arrived.
bool stopSignalWithin(const sigset_t& signals, int ms) {
    timespec timeout{ms / 1000, long(ms % 1000) * 1000000L};
    for (;;) {
        const int received = sigtimedwait(&signals, nullptr, &timeout);
        if (received > 0) return true;
        if (errno != EINTR) return false;
    }
}

// adbd's banner: "device::" and the product properties of the system image, as Android's adbd
// sends them (the features are added by the daemon).
std::string deviceBanner(const QString& systemImage) {
    QFile file(systemImage + u"/build.prop"_s);
    QMap<QString, QString> properties;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (const qsizetype equals = line.indexOf('='); equals > 0)
                properties.insert(QString::fromUtf8(line.left(equals)),
                                  QString::fromUtf8(line.mid(equals + 1)));
    QString banner = u"device::"_s;
    for (const char* key : {"ro.product.name", "ro.product.model", "ro.product.device"})
        banner += QLatin1StringView(key) + u'=' + properties.value(QLatin1StringView(key)) + u';';
    return banner.toStdString();
}

// The console and adbd on the console port and the next one, as every emulator has them (the
// stand-in adb reaches the device without them). The ports are fixed, so test programs that run
// side by side each run in a network namespace of their own.
std::unique_ptr<AdbDaemon> startAdbDaemon(const QString& sdk, const AvdConfig& avd, const QString& data,
                                          int port, QString& error) {
    const QString systemImage = SimLayout::systemImageFolder(sdk, avd.api);
    const DeviceShell shell{sdk, systemImage, data};
    AdbDaemon::Setup setup;
    setup.consolePort = port;
    const int serverPort = qEnvironmentVariableIntValue("ANDROID_ADB_SERVER_PORT");
    setup.adbServerPort = serverPort > 0 ? serverPort : 5037;
    setup.banner = deviceBanner(systemImage);
    std::vector<std::string> sandbox;
    for (const QString& word : shell.sandbox())
        sandbox.push_back(word.toStdString());
    const std::string displayServer = SimLayout::displayServerProgram(sdk).toStdString();
    setup.shellArgv = [sandbox, displayServer](const std::string& command) {
        const QStringList serverWords = SimLayout::displayServerWords(QString::fromStdString(command));
        if (!serverWords.isEmpty()) {
            std::vector<std::string> argv{displayServer};
            for (const QString& word : serverWords)
                argv.push_back(word.toStdString());
            return argv;
        }
        std::vector<std::string> argv = sandbox;
        argv.push_back("/bin/sh");
        if (command.empty()) {
            argv.push_back("-i");
        } else {
            argv.push_back("-c");
            argv.push_back(command);
        }
        return argv;
    };
    setup.syncArgv = [sandbox] {
        std::vector<std::string> argv = sandbox;
        argv.push_back("/system/bin/adbd");
        argv.push_back("sync");
        return argv;
    };
    const std::string home = QDir::homePath().toStdString();
    setup.consoleAuthTokenPath = consoleAuthTokenPath(home);
    setup.consoleAuthToken = loadOrCreateConsoleAuthToken(home);
    // The main thread takes SIGTERM synchronously and shuts the device down as for a signal.
    setup.kill = [] { kill(getpid(), SIGTERM); };
    std::string message;
    std::unique_ptr<AdbDaemon> daemon = AdbDaemon::start(std::move(setup), message);
    if (!daemon) error = QString::fromStdString(message);
    return daemon;
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString error;
    const std::optional<Options> options = parse(arguments, error);
    if (!options) return fail("ERROR", error);
    if (options->listAvds) {
        for (const QString& ini : QDir(avdHome()).entryList({u"*.ini"_s}, QDir::Files, QDir::Name))
            std::printf("%s\n", qPrintable(ini.chopped(4)));
        return 0;
    }

    const QString sdk = sdkRoot();
    const std::optional<AvdConfig> avd = AvdConfig::load(avdHome(), options->avd);
    if (!avd)
        return fail("PANIC", u"Unknown AVD name [%1], use -list-avds to see valid list."_s.arg(options->avd));
    const QString sysdir = avd->value(u"image.sysdir.1"_s);
    if (sysdir.isEmpty() || !QFile::exists(sdk + u'/' + sysdir + u"/system.img"_s))
        return fail("PANIC", u"Broken AVD system path. Check your ANDROID_SDK_ROOT value [%1]!"_s.arg(sdk));
    std::printf("INFO    | Found systemPath %s/%s\n", qPrintable(sdk), qPrintable(sysdir));
    std::fflush(stdout);
    if (accelerationRefused()) return 1;

    // Signals are taken synchronously by the wait loop below.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    const int lock = EmulatorRun::claim(sdk, options->port);
    if (lock < 0)
        return fail("ERROR",
                    u"Console port %1 is already in use by another emulator instance."_s.arg(options->port));

    const QString data = SimLayout::deviceData(avd->folder);
    prepareDevice(data);
    QString adbdError;
    std::unique_ptr<AdbDaemon> adbd = startAdbDaemon(sdk, *avd, data, options->port, adbdError);
    if (!adbdError.isEmpty()) {
        close(lock);
        return fail("ERROR", u"Could not start the console and adbd: %1"_s.arg(adbdError));
    }
    DeviceState state(data);
    if (!state.isOpen()) return fail("PANIC", u"Could not open the device's data folder %1"_s.arg(data));
    // A fresh boot: no tunnels, no resumed app, no media sessions left from the previous run.
    state.update([](QJsonObject& s) {
        const QJsonObject defaults = DeviceState::defaults();
        for (const char* key : {"reverse", "resumed", "mediaSessions"})
            s.insert(QLatin1StringView(key), defaults.value(QLatin1StringView(key)));
        return true;
    });
    writeRuntime(state, *avd, false, false);

    RunningEmulator facts;
    facts.pid = getpid();
    facts.api = avd->api;
    facts.avdName = avd->name;
    facts.avdFolder = avd->folder;
    facts.dataRoot = data;
    EmulatorRun::publish(sdk, options->port, facts);

    std::printf("INFO    | Android emulator (simulated by Vantle), AVD %s, API %d, console port %d\n",
                qPrintable(avd->name), avd->api, options->port);
    std::fflush(stdout);

    const SimConfig config = SimConfig::load(sdk);
    bool stopping = stopSignalWithin(signals, config.bootDelayMs);
    // A boot held back by the control tool stays unfinished until the fault is cleared.
    while (!stopping && faultSet(state, u"bootNeverCompletes"_s))
        stopping = stopSignalWithin(signals, 200);
    if (!stopping) {
        writeRuntime(state, *avd, true, false);
        if (adbd) adbd->bootCompleted();
        std::printf("INFO    | Boot completed\n");
        std::fflush(stdout);
        stopping = stopSignalWithin(signals, config.networkDelayMs);
        while (!stopping && faultSet(state, u"networkNeverValidates"_s))
            stopping = stopSignalWithin(signals, 200);
        if (!stopping) {
            writeRuntime(state, *avd, true, true);
            while (!stopping)
                stopping = stopSignalWithin(signals, 24 * 3600 * 1000);
        }
    }
    adbd.reset(); // connections close before the device is marked down
    writeRuntime(state, *avd, false, false);
    EmulatorRun::withdraw(sdk, options->port);
    std::printf("INFO    | Emulator shut down\n");
    close(lock);
    return 0;
}
