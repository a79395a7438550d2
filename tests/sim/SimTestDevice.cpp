#include "SimTestDevice.h"

#include "platform/Locations.h"
#include "sim/SimInstaller.h"
#include "sim/SimLayout.h"
#include "support/GoogleAdbCheck.h"
#include "support/TestSupport.h"

#include <QProcessEnvironment>

using namespace Qt::Literals::StringLiterals;

SimTestDevice::SimTestDevice(int api)
    : m_api(api) {
    qputenv("VANTLE_HOME", m_home.path().toLocal8Bit());
    const QString error = SimInstaller::install({Locations::runtime(), QStringLiteral(VANTLE_SIM_TOOLS_DIR),
                                                 api, 150, 150}); // short boot and network
    if (!error.isEmpty()) qFatal("sim install failed: %s", qPrintable(error));
    expectGoogleAdb(sdk());
}

SimTestDevice::~SimTestDevice() {
    if (m_emulator && m_emulator->state() != QProcess::NotRunning) {
        m_emulator->terminate();
        m_emulator->waitForFinished(5000);
    }
}

bool SimTestDevice::start(bool waitForBoot) {
    m_emulator = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ANDROID_SDK_ROOT"_s, sdk());
    environment.insert(u"ANDROID_HOME"_s, sdk());
    environment.insert(u"ANDROID_AVD_HOME"_s, SimLayout::avdHome(runtime()));
    m_emulator->setProcessEnvironment(environment);
    m_emulator->start(sdk() + u"/emulator/emulator"_s,
                      {u"@"_s + SimLayout::avdName(m_api), u"-port"_s, u"5556"_s, u"-no-window"_s,
                       u"-no-boot-anim"_s, u"-gpu"_s, u"host"_s, u"-memory"_s, u"2048"_s, u"-no-snapshot"_s});
    if (!m_emulator->waitForStarted()) return false;
    return !waitForBoot || waitForDevice(u"device"_s);
}

AdbResult SimTestDevice::adb(const QStringList& arguments, bool withSerial, const QByteArray& input) const {
    QProcess process;
    process.start(adbPath(), withSerial ? QStringList{u"-s"_s, u"emulator-5556"_s} + arguments : arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    AdbResult result;
    if (!process.waitForFinished(30000)) return result; // status -1; ~QProcess kills it
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

bool SimTestDevice::waitForDevice(const QString& state, int timeoutMs) const {
    return waitUntil([&] { return adb({u"devices"_s}, false).text().contains(u"emulator-5556\t"_s + state); },
                     timeoutMs);
}
