// vantlectl sim ...: installs the simulated Android as the managed runtime and controls its device
// for tests and demos.
#include "app/ctl/CtlCommand.h"
#include "platform/Locations.h"
#include "sim/EmulatorRun.h"
#include "sim/SimControl.h"
#include "sim/SimInstaller.h"
#include "sim/SimLayout.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

// Takes "--name value" out of `arguments`.
std::optional<QString> takeOption(QStringList& arguments, const QString& name) {
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size()) return std::nullopt;
    const QString value = arguments[at + 1];
    arguments.remove(at, 2);
    return value;
}

std::optional<int> takeInt(QStringList& arguments, const QString& name, bool& bad) {
    const std::optional<QString> text = takeOption(arguments, name);
    if (!text) return std::nullopt;
    bool ok = false;
    const int value = text->toInt(&ok);
    if (!ok || value < 0) bad = true;
    return value;
}

int report(const QString& error) {
    if (error.isEmpty()) return exitSuccess;
    std::fprintf(stderr, "vantlectl sim: %s\n", qPrintable(error));
    return exitFailure;
}

int install(QStringList arguments, int api) {
    bool bad = false;
    SimInstallRequest request;
    request.runtimeRoot = Locations::runtime();
    request.api = api;
    request.bootDelayMs = takeInt(arguments, u"--boot-ms"_s, bad);
    request.networkDelayMs = takeInt(arguments, u"--network-ms"_s, bad);
    if (arguments.removeAll(u"--stand-in-adb"_s) > 0) request.adb = SimAdb::standIn;
    if (bad || !arguments.isEmpty()) return exitUsage;
    request.toolsFolder = SimInstaller::findTools(QCoreApplication::applicationDirPath());
    if (request.toolsFolder.isEmpty())
        return report(u"the simulator's executables were not found (build the sim targets)"_s);
    if (const QString error = SimInstaller::install(request); !error.isEmpty()) return report(error);
    std::printf("Simulated Android (API %d) installed in %s\n", api, qPrintable(request.runtimeRoot));
    const QString sdk = SimLayout::sdkRoot(request.runtimeRoot);
    if (SimInstaller::usesGoogleAdb(sdk))
        std::printf("adb: Google's adb (%s)\n", qPrintable(SimInstaller::googleAdb()));
    else if (request.adb == SimAdb::standIn)
        std::printf("adb: Vantle's stand-in, as asked (--stand-in-adb)\n");
    else
        std::printf(
            "Note: Google's adb was not found (Debian package \"adb\"); platform-tools/adb is Vantle's "
            "stand-in, which knows only the commands Vantle sends.\n");
    return exitSuccess;
}

int run(const QStringList& all) {
    QStringList arguments = all;
    bool bad = false;
    const std::optional<int> requestedApi = takeInt(arguments, u"--api"_s, bad);
    if (bad || arguments.isEmpty()) return exitUsage;
    const QString verb = arguments.takeFirst();
    int api = requestedApi.value_or(35);
    if (!requestedApi)
        if (const auto running =
                EmulatorRun::find(SimLayout::sdkRoot(Locations::runtime()), SimLayout::consolePort))
            api = running->api;
    if (verb == u"install"_s) return install(arguments, api);
    if (verb == u"check"_s && arguments.isEmpty()) {
        // Whether the managed runtime holds an SDK at all (downloaded or simulated).
        const QString sdk = SimLayout::sdkRoot(Locations::runtime());
        return QFileInfo(sdk + u"/platform-tools/adb"_s).isExecutable() &&
                       QFileInfo(sdk + u"/emulator/emulator"_s).isExecutable()
                   ? exitSuccess
                   : exitFailure;
    }
    if (verb == u"wipe"_s)
        return arguments.isEmpty() ? report(SimInstaller::wipe(Locations::runtime(), api)) : exitUsage;

    SimControl device(Locations::runtime(), api);
    const qsizetype count = arguments.size();
    if (verb == u"notify"_s && count >= 4) {
        const bool ongoing = arguments.removeAll(u"--ongoing"_s) > 0,
                   media = arguments.removeAll(u"--media"_s) > 0;
        return report(device.postNotification(arguments[0], arguments[1].toInt(), arguments[2],
                                              arguments.value(3), ongoing ? 0x62 : 0x10, media));
    }
    if (verb == u"cancel"_s && count == 2)
        return report(device.cancelNotification(arguments[0], arguments[1].toInt()));
    if (verb == u"media"_s && count >= 2)
        return report(device.setMediaSession(arguments[0], arguments[1], arguments.value(2),
                                             arguments.value(3), arguments.value(4)));
    if (verb == u"download"_s && (count == 1 || count == 2))
        return report(device.putDownload(arguments[0], arguments.value(1)));
    if (verb == u"clipboard"_s && count == 1) return report(device.setClipboard(arguments[0]));
    if (verb == u"fail-install"_s && count == 1)
        return report(device.setFault(u"nextInstallFailure"_s, arguments[0]));
    if (verb == u"package-service"_s && count == 1 &&
        (arguments[0] == u"healthy"_s || arguments[0] == u"missing"_s))
        return report(device.setFault(u"packageServiceMissing"_s, arguments[0] == u"missing"_s));
    if (verb == u"boot"_s && count == 1 && (arguments[0] == u"normal"_s || arguments[0] == u"never"_s))
        return report(device.setFault(u"bootNeverCompletes"_s, arguments[0] == u"never"_s));
    if (verb == u"slow-force-stop"_s && count == 1) {
        bool number = false;
        const int delayMs = arguments[0].toInt(&number);
        if (!number || delayMs < 0) return exitUsage;
        return report(device.setFault(u"slowForceStop"_s, delayMs > 0 ? QJsonValue(delayMs) : QJsonValue()));
    }
    if (verb == u"server-fault"_s && count == 2) {
        bool number = false;
        const qint64 value = arguments[1].toLongLong(&number, 0);
        const QJsonValue json = arguments[1] == u"none"_s ? QJsonValue()
                                : number                  ? QJsonValue(value)
                                                          : QJsonValue(arguments[1]);
        return report(device.setServerFault(arguments[0], json));
    }
    if (verb == u"clear-faults"_s && count == 0) return report(device.clearFaults());
    if (verb == u"received"_s && count <= 1) {
        for (const QJsonObject& event : device.received())
            std::printf("%s\n", QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
        if (arguments.value(0) == u"--clear"_s) device.clearReceived();
        return exitSuccess;
    }
    if (verb == u"state"_s && count == 0) {
        if (!device.exists()) return report(u"no simulated device"_s);
        std::printf("%s", QJsonDocument(device.state()).toJson().constData());
        return exitSuccess;
    }
    return exitUsage;
}

} // namespace

const CtlCommand simCtlCommand{
    "sim",
    "sim [--api N] install [--boot-ms N] [--network-ms N] [--stand-in-adb]   install the simulated Android\n"
    "                                           device (with Google's adb when the machine has it)\n"
    "  vantlectl sim check                      exit status 0 when an Android SDK is installed\n"
    "  vantlectl sim [--api N] wipe | state | received [--clear] | clear-faults\n"
    "  vantlectl sim notify <package> <id> <title> <text> [--ongoing] [--media] | cancel <package> <id>\n"
    "  vantlectl sim media <package> playing|paused|stopped|none [title] [artist] [album]\n"
    "  vantlectl sim download <file> [name] | clipboard <text>\n"
    "  vantlectl sim fail-install <INSTALL_FAILED_...[: message]> | package-service healthy|missing\n"
    "  vantlectl sim boot normal|never | server-fault <name> <value|none>\n"
    "  vantlectl sim slow-force-stop <ms>      am force-stop lands after <ms> (0: at once)\n"
    "  (a replay file for the display server: <build>/sim/make-replay <file.h264> [--size WxH] [--frames N])",
    run};
