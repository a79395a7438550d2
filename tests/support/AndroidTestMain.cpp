// main() of the test programs that drive the simulated Android (the ones that link the simulator).
// The emulator's console and adbd ports (5556, 5557) and Google's adb server port (5037) are fixed,
// so each such program runs in a network namespace of its own, entered here while the process is
// still single-threaded: programs that run side by side cannot meet each other's device or
// server. Google's adb keeps its key, and the emulator its console token, in a private HOME. The
// adb server is started once up front, so that what the tests compare is not interleaved with
// its start-up lines (the test of that start-up stops it first), and stopped at the end, so that
// nothing this program started outlives it.
#include "sim/SimInstaller.h"
#include "support/PrivateNetwork.h"
#include "support/TestRunner.h"

#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    if (const std::string error = enterPrivateNetwork(); !error.empty()) {
        std::fprintf(stderr, "cannot enter a private network namespace: %s\n", error.c_str());
        return 1;
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
