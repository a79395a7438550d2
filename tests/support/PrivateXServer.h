#pragma once

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// An X server of the program's own (Xvfb), started before the Qt application connects: DISPLAY
// and QT_QPA_PLATFORM point at it, and the session bus at nothing, so tray items are XEmbed icons
// in a tray the program starts itself, never a desktop's. Stopped when the object goes.
class PrivateXServer {
public:
    PrivateXServer() {
        int displayPipe[2];
        if (pipe(displayPipe) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM); // a crashed program leaves no X server (nor its tray) behind
            close(displayPipe[0]);
            const std::string fd = std::to_string(displayPipe[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten",
                   "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(displayPipe[1]);
        std::string display;
        char c = 0;
        while (read(displayPipe[0], &c, 1) == 1 && c != '\n')
            display += c;
        close(displayPipe[0]);
        if (display.empty()) return;
        setenv("DISPLAY", (":" + display).c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vantle-private-bus", 1);
        m_running = true;
    }
    ~PrivateXServer() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    bool isRunning() const { return m_running; }

private:
    pid_t m_pid = -1;
    bool m_running = false;
};
