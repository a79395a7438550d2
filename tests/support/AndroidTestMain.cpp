// main() of the test programs that drive the simulated Android. The emulator's ports (5556, 5557)
// and Google's adb server port (5037) are fixed, so each program runs in a network namespace of its
// own, entered while still single-threaded, with adb's key and the console token in a private HOME.
// The adb server is started up front (so its start-up lines mix with nothing a test compares) and
// stopped at the end (so nothing started here outlives the program). A program built with
// VANTLE_TEST_PRIVATE_X_SERVER also gets an X server of its own (the desktop shell's tray and keys).
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
#ifdef VANTLE_TEST_PRIVATE_X_SERVER
    const PrivateXServer display;
    if (!display.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
#endif
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
