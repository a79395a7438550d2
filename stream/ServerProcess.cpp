#include "stream/ServerProcess.h"

#include "platform/Locations.h"
#include "platform/ProcessLedger.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

extern char** environ;

namespace {

QString errorText(const char* call, int error) {
    return QString::fromLatin1(call) + u": "_s + QString::fromLocal8Bit(std::strerror(error));
}

int pidfdOpen(pid_t pid) {
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

} // namespace

std::shared_ptr<ServerProcess> ServerProcess::start(const QString& program, const QStringList& arguments,
                                                    Handlers handlers) {
    int pipeFDs[2];
    if (::pipe2(pipeFDs, O_CLOEXEC) != 0) throw ServerProcessError(errorText("pipe", errno));

    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, pipeFDs[1], 1);
    ::posix_spawn_file_actions_adddup2(&actions, pipeFDs[1], 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFDs[1]);
    if (spawned != 0) {
        ::close(pipeFDs[0]);
        throw ServerProcessError(errorText("posix_spawn", spawned));
    }
    const int pidFD = pidfdOpen(pid);
    if (pidFD < 0) {
        const int error = errno;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(pipeFDs[0]);
        throw ServerProcessError(errorText("pidfd_open", error));
    }
    std::shared_ptr<ServerProcess> process(new ServerProcess(pid, pipeFDs[0], pidFD, std::move(handlers)));
    // Recorded until reaped, so that a Vantle killed meanwhile leaves the next one a way to end it.
    ProcessLedger::remember(process->m_ledger, pid);
    // The watcher owns the process object until the exit was reported.
    std::thread([process] { process->watch(); }).detach();
    return process;
}

ServerProcess::ServerProcess(pid_t pid, int outputFD, int pidFD, Handlers handlers)
    : m_pid(pid)
    , m_outputFD(outputFD)
    , m_pidFD(pidFD)
    , m_handlers(std::move(handlers))
    , m_ledger(Locations::serverLedger()) {}

ServerProcess::~ServerProcess() {
    ::close(m_outputFD);
    ::close(m_pidFD);
}

bool ServerProcess::isRunning() const {
    std::lock_guard guard(m_lock);
    return !m_reaped;
}

bool ServerProcess::waitForExit(std::chrono::milliseconds timeout) const {
    std::unique_lock guard(m_lock);
    return m_reapedChanged.wait_for(guard, timeout, [this] { return m_reaped; });
}

void ServerProcess::terminate() {
    // Through the pidfd: it names this process even after it was reaped and its pid reused.
    ::syscall(SYS_pidfd_send_signal, m_pidFD, SIGTERM, nullptr, 0);
}

void ServerProcess::watch() {
    char buffer[4096];
    bool outputOpen = true;
    // Output first: everything the process wrote before it exited is forwarded before the exit.
    for (;;) {
        pollfd ready[2] = {{m_outputFD, POLLIN, 0}, {m_pidFD, POLLIN, 0}};
        const int count = outputOpen ? 2 : 1;
        pollfd* watched = outputOpen ? ready : ready + 1;
        if (::poll(watched, nfds_t(count), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (outputOpen && ready[0].revents != 0) {
            const ssize_t n = ::read(m_outputFD, buffer, sizeof buffer);
            if (n > 0) {
                if (m_handlers.output) m_handlers.output(QByteArray(buffer, n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            outputOpen = false;
            continue;
        }
        if (ready[1].revents != 0) break;
    }
    // The process has exited; take what is still buffered in the pipe without waiting for a
    // grandchild that may hold its write end.
    const int flags = ::fcntl(m_outputFD, F_GETFL);
    ::fcntl(m_outputFD, F_SETFL, flags | O_NONBLOCK);
    while (outputOpen) {
        const ssize_t n = ::read(m_outputFD, buffer, sizeof buffer);
        if (n <= 0) break;
        if (m_handlers.output) m_handlers.output(QByteArray(buffer, n));
    }
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(m_pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    ProcessLedger::forget(m_ledger, m_pid);
    {
        std::lock_guard guard(m_lock);
        m_reaped = true;
    }
    m_reapedChanged.notify_all();
    // Exit code, or the number of the signal that ended it.
    const int exitStatus = WIFEXITED(status)     ? WEXITSTATUS(status)
                           : WIFSIGNALED(status) ? WTERMSIG(status)
                                                 : -1;
    if (m_handlers.exited) m_handlers.exited(exitStatus);
    m_handlers = {};
}
