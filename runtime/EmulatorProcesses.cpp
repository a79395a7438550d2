#include "runtime/EmulatorProcesses.h"

#include "core/VantleLog.h"
#include "platform/ProcessLedger.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace AndroidRuntimeCLI {

namespace {

bool isVantleDevice(const QString& name, const AndroidRuntimePaths& paths) {
    if (name == paths.avdName) return true;
    for (const int api : AndroidRuntimePaths::supportedAPILevels())
        if (name == AndroidRuntimePaths::managed(api).avdName) return true;
    return false;
}

QString canonical(const QString& path) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
}

} // namespace

bool isOwnEmulator(const RunningProcess& process, const AndroidRuntimePaths& paths) {
    const QString folder = canonical(paths.sdkRoot + u"/emulator"_s) + u'/';
    if (process.executable.isEmpty() || !canonical(process.executable).startsWith(folder)) return false;
    const QStringList& args = process.arguments;
    bool device = false, port = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString next = args.value(i + 1);
        if (args[i].startsWith(u'@') && isVantleDevice(args[i].mid(1), paths)) device = true;
        if (args[i] == u"-avd"_s && isVantleDevice(next, paths)) device = true;
        if (args[i] == u"-port"_s && next == u"5556"_s) port = true;
    }
    return device && port;
}

int endOwnEmulator(int waitMs) {
    const AndroidRuntimePaths paths = AndroidRuntimePaths::current();
    struct Found {
        qint64 pid;
        std::optional<quint64> started; // tells a reused pid from the process found
    };
    QList<Found> found;
    for (const RunningProcess& process : currentUserProcesses())
        if (isOwnEmulator(process, paths)) found.append({process.pid, ProcessLedger::startTime(process.pid)});
    const auto running = [](const Found& f) {
        return f.started && ProcessLedger::startTime(f.pid) == f.started;
    };
    for (const Found& f : found)
        if (running(f)) ::kill(pid_t(f.pid), SIGTERM);
    for (int waited = 0; waited < waitMs; waited += 100) {
        if (std::none_of(found.cbegin(), found.cend(), running)) break;
        QThread::msleep(100);
    }
    for (const Found& f : found)
        if (running(f)) ::kill(pid_t(f.pid), SIGKILL);
    if (!found.isEmpty())
        VantleLog::main().write(u"ended %1 emulator processes of Vantle"_s.arg(found.size()));
    return int(found.size());
}

} // namespace AndroidRuntimeCLI
