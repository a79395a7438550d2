#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

// A long-lived child that outlives Vantle unless someone stops it (the emulator): started
// detached, its input on the null device, known afterwards only by its process id.
namespace DetachedProcess {

struct Start {
    std::optional<qint64> pid;
    QString error; // why it did not start
};
// Its output and errors are appended to `outputFile` (which the caller empties when it wants a
// fresh one), or go to the null device when that is empty.
Start start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
            const QString& outputFile = {});
bool isRunning(qint64 pid);

} // namespace DetachedProcess
