#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The processes of the current user, as the system lists them: for finding a process Vantle
// started in an earlier run (or that outlived a stop) by what it runs, never by a pattern over
// every command line on the computer. Usable from any thread.
struct RunningProcess {
    qint64 pid = 0;
    QString executable;    // the program file's path; empty when the system does not say
    QStringList arguments; // without the program name
};

QList<RunningProcess> currentUserProcesses();
