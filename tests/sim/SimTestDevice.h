#pragma once

#include "sim/SimControl.h"
#include "sim/SimLayout.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <utility>

// A simulated Android in a temporary Vantle home, booted with Vantle's emulator command line; short delays.
struct AdbResult {
    int status = -1;
    QByteArray out, err;
    QString text() const { return QString::fromUtf8(out); }
};

class SimTestDevice {
public:
    explicit SimTestDevice(int api = 35);
    ~SimTestDevice();

    QString runtime() const { return m_home.path() + QStringLiteral("/.local/share/Vantle/Runtime"); }
    QString sdk() const { return SimLayout::sdkRoot(runtime()); }
    QString adbPath() const { return sdk() + QStringLiteral("/platform-tools/adb"); }

    // Starts the emulator as Vantle does; waits until adb lists it as "device" when `waitForBoot`.
    bool start(bool waitForBoot = true);
    // adb with "-s emulator-5556" first (unless `withSerial` is false), `input` on its stdin when given.
    AdbResult adb(const QStringList& arguments, bool withSerial = true, const QByteArray& input = {}) const;
    AdbResult shell(const QString& command) const { return adb({QStringLiteral("shell"), command}); }
    bool waitForDevice(const QString& state, int timeoutMs = 5000) const;
    QProcess& emulator() { return *m_emulator; }

    static QString dataFile(const QString& name) { return QStringLiteral(VANTLE_SIM_TEST_DATA "/") + name; }

private:
    QTemporaryDir m_home;
    int m_api;
    std::unique_ptr<QProcess> m_emulator;
};

// One booted device (API 35, notes.apk installed) shared by every test of the suite.
class SimDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite() { delete std::exchange(device, nullptr); }
    void TearDown() override { control().clearFaults(); }
    static SimControl control() { return SimControl(device->runtime(), 35); }
    static SimTestDevice* device;
};
