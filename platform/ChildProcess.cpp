#include "platform/ChildProcess.h"

#include <QProcess>

ChildProcess::Result ChildProcess::run() const {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    if (mergeErrorIntoOutput) process.setProcessChannelMode(QProcess::MergedChannels);
    if (standardOutput == Output::discard) process.setStandardOutputFile(QProcess::nullDevice());
    if (standardOutput == Output::toFile) process.setStandardOutputFile(outputFile);
    if (!mergeErrorIntoOutput && standardError == Output::discard) process.setStandardErrorFile(QProcess::nullDevice());

    Result result;
    process.start();
    if (!process.waitForStarted(-1)) {
        result.startError = process.errorString();
        return result;
    }
    result.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = process.state() != QProcess::NotRunning;
        process.kill();
        process.waitForFinished(-1);
    }
    if (standardOutput == Output::capture) result.standardOutput = process.readAllStandardOutput();
    if (standardError == Output::capture && !mergeErrorIntoOutput) result.standardError = process.readAllStandardError();
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit) result.exitCode = process.exitCode();
    return result;
}
