#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// Runs one child process to completion, blocking the calling thread: an absolute executable path
// and an argument list, never a shell. Usable from any thread (the thread pool included).
struct ChildProcess {
    enum class Output { discard, capture, toFile };

    QString program; // absolute path
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    Output standardOutput = Output::capture;
    Output standardError = Output::discard;
    bool mergeErrorIntoOutput = false; // one combined stream, in the order the program wrote it
    QString outputFile;                // for Output::toFile
    int timeoutMs = -1;                // -1: no limit; on time-out the process is killed

    struct Result {
        bool started = false;
        bool timedOut = false;
        int exitCode = -1; // -1 when it crashed, was killed or never started
        QByteArray standardOutput;
        QByteArray standardError;
        QString startError; // why it did not start
    };
    Result run() const;
};
