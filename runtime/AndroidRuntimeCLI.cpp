#include "runtime/AndroidRuntimeCLI.h"

#include "platform/ChildProcess.h"
#include "platform/Locations.h"
#include "platform/LoopbackPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUuid>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace AndroidRuntimeCLI {

namespace {

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

constexpr int stopAllAppsTimeoutMs = 60'000;

// Google's adb starts its server on the first call of a session and says so in that call's
// standard error, which run() folds into the output:
//   * daemon not running; starting now at tcp:5037
//   * daemon started successfully
// Neither line is the command's. The new server meets the emulator that already runs only after
// it has answered, so that first command finds the device "offline" (still connecting) or not at
// all, and a listing may miss it: such a command runs once more after `adb wait-for-device` has
// let the server connect, when an emulator holds the console port.
constexpr QLatin1StringView serverLinePrefix("* daemon ");
constexpr QLatin1StringView serverStartedLine("* daemon started successfully");
constexpr int consolePort = 5556;
constexpr int serverConnectTimeoutMs = 3'000;

// After a call that started adb's server: when an emulator holds the console port, waits (time-
// limited) until the server has connected to it; false when there is none to wait for.
bool awaitServerConnection(const QString& adb) {
    if (!loopbackPortAccepts(consolePort)) return false;
    ChildProcess wait;
    wait.program = adb;
    wait.arguments = {u"-s"_s, QString(deviceSerial), u"wait-for-device"_s};
    wait.timeoutMs = serverConnectTimeoutMs;
    wait.run();
    return true;
}

// Removes adb's server start-up lines; true when they say this call started the server.
bool removeServerStartLines(QString& text) {
    if (!text.contains(serverLinePrefix)) return false;
    QStringList lines = text.split(u'\n');
    const bool started = std::any_of(lines.cbegin(), lines.cend(),
                                     [](const QString& line) { return line.startsWith(serverStartedLine); });
    lines.removeIf([](const QString& line) { return line.startsWith(serverLinePrefix); });
    text = lines.join(u'\n');
    return started;
}

// run() for adb: the output without the server's start-up lines; the command is repeated once
// when it started the server and failed, or was the device listing (see above).
QString runAdbTool(const QStringList& arguments, int timeoutMs) {
    const QString adb = AndroidRuntimePaths::current().adb();
    for (int attempt = 0;; ++attempt) {
        QString output;
        bool failed = false;
        try {
            output = run(adb, arguments, timeoutMs);
        } catch (const AndroidRuntimeError& error) {
            if (error.kind() != AndroidRuntimeError::Kind::commandFailed) throw;
            output = error.description();
            failed = true;
        }
        const bool serverStarted = removeServerStartLines(output);
        const bool listing = arguments == QStringList{u"devices"_s};
        if (serverStarted && attempt == 0 && (failed || listing) && awaitServerConnection(adb)) continue;
        if (failed) throw AndroidRuntimeError::commandFailed(output.trimmed());
        return output;
    }
}

QStringList nonEmptyLines(const QString& text) {
    return text.split(u'\n', Qt::SkipEmptyParts);
}

bool probeSucceeds(const QStringList& arguments, const std::function<bool(const QString&)>& test) {
    try {
        return test(adbDevice(arguments, probeTimeoutMs));
    } catch (const AndroidRuntimeError&) {
        return false;
    }
}

} // namespace

QThreadPool& pool() {
    static QThreadPool* threads = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(8);
        created->setExpiryTimeout(30'000);
        return created;
    }();
    return *threads;
}

QString run(const QString& tool, const QStringList& arguments, int timeoutMs) {
    const QFileInfo info(tool);
    if (!info.isFile() || !info.isExecutable()) throw AndroidRuntimeError::toolMissing(info.fileName());

    // Output goes through a file, not a pipe, so a tool that leaves a background child holding the
    // pipe open (adb's server) cannot keep us waiting.
    const QString outputPath = QDir::tempPath() + u"/Vantle-command-"_s +
                               QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u".log"_s;
    QFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly))
        throw AndroidRuntimeError::commandFailed(u"Could not create command output"_s);
    output.close();

    ChildProcess process;
    process.program = tool;
    process.arguments = arguments;
    process.standardOutput = ChildProcess::Output::toFile;
    process.mergeErrorIntoOutput = true;
    process.outputFile = outputPath;
    process.timeoutMs = timeoutMs;
    if (const auto java = javaHome()) process.environment.insert(u"JAVA_HOME"_s, *java);
    const ChildProcess::Result result = process.run();

    QByteArray bytes;
    if (output.open(QIODevice::ReadOnly)) bytes = output.readAll();
    output.remove();
    if (!result.started) throw AndroidRuntimeError::commandFailed(result.startError);
    const QString text = strictUtf8(bytes).value_or(QString());
    if (result.timedOut)
        throw AndroidRuntimeError::commandFailed(info.fileName() +
                                                 u" did not answer within %1 s"_s.arg(timeoutMs / 1000.0));
    if (result.exitCode != 0) throw AndroidRuntimeError::commandFailed(text.trimmed());
    return text;
}

std::optional<QString> runADB(const QStringList& arguments, int timeoutMs) {
    ChildProcess process;
    process.program = AndroidRuntimePaths::current().adb();
    process.arguments = QStringList{u"-s"_s, QString(deviceSerial)} + arguments;
    process.timeoutMs = timeoutMs;
    // Standard error is read only for adb's server start-up lines (see runAdbTool).
    process.standardError = ChildProcess::Output::capture;
    ChildProcess::Result result = process.run();
    if (!result.started) return std::nullopt;
    if (result.exitCode != 0 && result.standardError.contains(serverStartedLine.data()) &&
        awaitServerConnection(process.program))
        result = process.run();
    return strictUtf8(result.standardOutput);
}

QString adbDevice(const QStringList& arguments, int timeoutMs) {
    return runAdbTool(QStringList{u"-s"_s, QString(deviceSerial)} + arguments, timeoutMs);
}

QString packagesDirectory() {
    return Locations::packages();
}

std::optional<QString> javaHome() {
    const auto hasJava = [](const QString& home) { return QFileInfo(home + u"/bin/java"_s).isExecutable(); };
    const QString fromEnvironment = qEnvironmentVariable("JAVA_HOME");
    if (!fromEnvironment.isEmpty() && hasJava(fromEnvironment)) return fromEnvironment;
    // Debian's default runtime, then any other installed one.
    const QString jvms = u"/usr/lib/jvm"_s;
    if (hasJava(jvms + u"/default-java"_s)) return jvms + u"/default-java"_s;
    for (const QString& name : QDir(jvms).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (hasJava(jvms + u'/' + name)) return jvms + u'/' + name;
    return std::nullopt;
}

bool deviceIsBooted() {
    return probeSucceeds({u"shell"_s, u"getprop"_s, u"sys.boot_completed"_s},
                         [](const QString& output) { return output.trimmed() == u"1"_s; });
}

bool deviceIsListed() {
    try {
        const QString output = runAdbTool({u"devices"_s}, probeTimeoutMs);
        for (const QString& line : nonEmptyLines(output))
            if (line.startsWith(deviceSerial)) return true;
    } catch (const AndroidRuntimeError&) {
    }
    return false;
}

bool androidIsHealthy() {
    return probeSucceeds({u"shell"_s, u"service"_s, u"check"_s, u"package"_s}, [](const QString& output) {
        return output.contains(u"found"_s) && !output.contains(u"not found"_s);
    });
}

int runningAPI() {
    try {
        bool ok = false;
        const int api = adbDevice({u"shell"_s, u"getprop"_s, u"ro.build.version.sdk"_s}, probeTimeoutMs)
                            .trimmed()
                            .toInt(&ok);
        return ok ? api : 0;
    } catch (const AndroidRuntimeError&) {
        return 0;
    }
}

int stopAllApps() {
    const auto output = runADB(
        {u"shell"_s,
         u"for p in $(pm list packages -3 | sed 's/package://'); do am force-stop $p; echo $p; done"_s},
        stopAllAppsTimeoutMs);
    return output ? int(nonEmptyLines(*output).size()) : 0;
}

} // namespace AndroidRuntimeCLI
