// main() of the desktop shell tests: an X server of their own (Xvfb) before the application
// connects, so global keys and tray items are real X11 grabs and windows.
#include "support/TestRunner.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    int displayPipe[2];
    if (pipe(displayPipe) != 0) return 2;
    const pid_t xvfb = fork();
    if (xvfb == 0) {
        close(displayPipe[0]);
        const std::string fd = std::to_string(displayPipe[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(displayPipe[1]);
    std::string display;
    char c = 0;
    while (read(displayPipe[0], &c, 1) == 1 && c != '\n')
        display += c;
    close(displayPipe[0]);
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // No session bus: the tray items are XEmbed icons in the test's own tray, never a desktop's.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vantle-test-bus", 1);
    const int result = runVantleTests(argc, argv);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return result;
}
