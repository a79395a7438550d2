#include "platform/DetachedProcess.h"

#include <QFile>
#include <QProcess>
#include <cerrno>
#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace DetachedProcess {

Start start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
            const QString& outputFile) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    // Both streams append: each is opened on its own, and only appending keeps one from
    // overwriting what the other wrote.
    const QString output = outputFile.isEmpty() ? QProcess::nullDevice() : outputFile;
    process.setStandardOutputFile(output, QIODevice::Append);
    process.setStandardErrorFile(output, QIODevice::Append);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) return {std::nullopt, process.errorString()};
    return {pid, {}};
}

bool isRunning(qint64 pid) {
    // The detached child is not ours to reap; signal 0 only asks whether it exists.
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM)) return false;
    // An exited process that nobody has reaped yet (a zombie) still exists but does not run.
    // /proc/<pid>/stat: "<pid> (<name>) <state> ..."; the name may itself contain ") ".
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = stat.readAll();
    const qsizetype nameEnd = line.lastIndexOf(") ");
    if (nameEnd < 0 || nameEnd + 2 >= line.size()) return true;
    const char state = line.at(nameEnd + 2);
    return state != 'Z' && state != 'X';
}

} // namespace DetachedProcess
