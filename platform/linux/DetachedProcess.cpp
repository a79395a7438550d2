#include "platform/DetachedProcess.h"

#include <QProcess>

#include <cerrno>
#include <csignal>

namespace DetachedProcess {

Start start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) return {std::nullopt, process.errorString()};
    return {pid, {}};
}

bool isRunning(qint64 pid) {
    // The detached child is not ours to reap; signal 0 only asks whether it exists.
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace DetachedProcess
