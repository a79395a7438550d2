#include "platform/ProcessList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

// /proc/<pid>: owned by the process's user; "exe" links to its program, "cmdline" holds its
// arguments, each ending with a NUL byte.
QList<RunningProcess> currentUserProcesses() {
    QList<RunningProcess> processes;
    const uid_t self = ::getuid();
    for (const QString& name : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (!ok || pid <= 0) continue;
        const QString folder = u"/proc/"_s + name;
        struct stat status {};
        if (::stat(QFile::encodeName(folder).constData(), &status) != 0 || status.st_uid != self) continue;
        QFile cmdline(folder + u"/cmdline"_s);
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        QList<QByteArray> parts = cmdline.readAll().split('\0');
        if (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
        if (parts.isEmpty()) continue; // a kernel thread, or a process that is ending
        RunningProcess process;
        process.pid = pid;
        process.executable = QFileInfo(folder + u"/exe"_s).symLinkTarget();
        for (qsizetype i = 1; i < parts.size(); ++i)
            process.arguments.append(QString::fromLocal8Bit(parts[i]));
        processes.append(process);
    }
    return processes;
}
