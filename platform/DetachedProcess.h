#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// A long-lived child that outlives Vantle unless someone stops it (the emulator): started
// detached with all standard streams on the null device, known afterwards only by its process id.
namespace DetachedProcess {

struct Start {
    std::optional<qint64> pid;
    QString error; // why it did not start
};
Start start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment);
bool isRunning(qint64 pid);

} // namespace DetachedProcess
