#pragma once

#include "core/VantleError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/types.h>

// The display server's host-side process (`adb … shell … app_process …`), started with standard
// output and standard error in one pipe. One watcher thread per process forwards every chunk of
// output as it arrives and reports the exit once, after the last chunk.
//
// Built on posix_spawn and a pidfd rather than QProcess: QProcess delivers output and its finished
// signal through an event loop on the thread that created it, and the stream's start thread has
// none (it becomes the video reader). The pidfd lets the watcher notice the exit even when a
// grandchild keeps the pipe open.
//
// While it runs, the process is recorded in the display-server ledger (ProcessLedger), so that a
// Vantle that was killed leaves its successor a precise way to end it.
class ServerProcess : public std::enable_shared_from_this<ServerProcess> {
public:
    struct Handlers {
        std::function<void(const QByteArray&)> output; // on the watcher thread
        std::function<void(int status)> exited;        // on the watcher thread, once
    };

    // Starts the process and its watcher. Throws ServerProcessError when it cannot be started.
    static std::shared_ptr<ServerProcess> start(const QString& program, const QStringList& arguments,
                                                Handlers handlers);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool isRunning() const;
    // Blocks until the process has exited and all its output was forwarded (true), or the time is
    // up (false). Returns at once in the `exited` handler.
    bool waitForExit(std::chrono::milliseconds timeout) const;
    // SIGTERM to the process; nothing once it has exited.
    void terminate();
    pid_t pid() const { return m_pid; }

private:
    ServerProcess(pid_t pid, int outputFD, int pidFD, Handlers handlers);
    void watch();

    const pid_t m_pid;
    const int m_outputFD;
    const int m_pidFD;
    Handlers m_handlers;
    const QString m_ledger; // where this process is recorded while it runs
    mutable std::mutex m_lock;
    mutable std::condition_variable m_reapedChanged;
    bool m_reaped = false;
};

// Why the server process could not be started, e.g. "posix_spawn: No such file or directory".
class ServerProcessError final : public VantleError {
public:
    explicit ServerProcessError(QString description)
        : m_description(std::move(description)) {}
    const char* what() const noexcept override { return "server process start failed"; }
    QString description() const override { return m_description; }
    void raise() const override { throw *this; }
    ServerProcessError* clone() const override { return new ServerProcessError(*this); }

private:
    QString m_description;
};
