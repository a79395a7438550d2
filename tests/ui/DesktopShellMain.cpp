// main() of the desktop shell tests: global keys and tray items are real X11 grabs and windows on
// an X server of the program's own; the mini player's app runs on the simulated Android (a network
// namespace of the program's own, entered while still single-threaded, and Google's adb server in
// a private HOME).
#include "sim/SimInstaller.h"
#include "support/PrivateNetwork.h"
#include "support/PrivateXServer.h"
#include "support/TestRunner.h"

#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    if (const std::string error = enterPrivateNetwork(); !error.empty()) {
        std::fprintf(stderr, "cannot enter a private network namespace: %s\n", error.c_str());
        return 1;
    }
    const PrivateXServer display;
    if (!display.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    const QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("ANDROID_ADB_SERVER_PORT");
    qunsetenv("ANDROID_SERIAL");
    const QString adb = SimInstaller::googleAdb();
    if (!adb.isEmpty()) QProcess::execute(adb, {QStringLiteral("start-server")});
    const int status = runVantleTests(argc, argv);
    if (!adb.isEmpty()) QProcess::execute(adb, {QStringLiteral("kill-server")});
    return status;
}
