#pragma once

#include "core/WaitFor.h"
#include "sim/SimControl.h"
#include "support/SimulatedAndroid.h"

#include <QProcess>
#include <utility>

// adb's answer to one call.
struct AdbResult {
    int status = -1;
    QByteArray out, err;
    QString text() const { return QString::fromUtf8(out); }
};

// The adb of the current Vantle home's runtime.
inline QString adbPath() {
    return SimLayout::sdkRoot(Locations::runtime()) + QStringLiteral("/platform-tools/adb");
}

// adb with "-s emulator-5556" first (unless `withSerial` is false), `input` on its stdin when given.
inline AdbResult adb(const QStringList& arguments, bool withSerial = true, const QByteArray& input = {}) {
    QProcess process;
    const QStringList serial{QStringLiteral("-s"), QStringLiteral("emulator-5556")};
    process.start(adbPath(), withSerial ? serial + arguments : arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(30000)) return {}; // status -1; ~QProcess kills it
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}
inline AdbResult shell(const QString& command) {
    return adb({QStringLiteral("shell"), command});
}
inline bool waitForDevice(const QString& state, int timeoutMs = 5000) {
    return waitUntil(
        [&] {
            return adb({QStringLiteral("devices")}, false)
                .text()
                .contains(QStringLiteral("emulator-5556\t") + state);
        },
        timeoutMs);
}
inline QString dataFile(const QString& name) {
    return QStringLiteral(VANTLE_SIM_TEST_DATA "/") + name;
}

// One device (API 35, notes.apk installed), booted as Vantle boots it, shared by every test of the suite.
class SimDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite() { delete std::exchange(android, nullptr); }
    void TearDown() override { control().clearFaults(); }
    static SimControl control() { return SimControl(Locations::runtime(), 35); }
    static SimulatedAndroidHome* android;
};
