#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A simulated Android installed into a temporary Vantle home and, once started, booted with
// Vantle's own emulator command line. Boot and network delays are kept short.
struct AdbResult {
    int status = -1;
    QByteArray out, err;
    QString text() const { return QString::fromUtf8(out); }
};

class SimTestDevice {
public:
    explicit SimTestDevice(int api = 35);
    ~SimTestDevice();

    QString runtime() const;
    QString sdk() const;
    QString adbPath() const;
    QString dataRoot() const; // the device's /data on the host

    // Starts the emulator as Vantle does; waits until adb lists it as "device" when `waitForBoot`.
    bool start(bool waitForBoot = true);
    void kill();
    // adb with "-s emulator-5556" first (unless `withSerial` is false).
    AdbResult adb(const QStringList& arguments, bool withSerial = true) const;
    AdbResult shell(const QString& command) const { return adb({QStringLiteral("shell"), command}); }
    bool waitForDevice(const QString& state, int timeoutMs = 5000) const;
    QProcess& emulator() { return *m_emulator; }

    static QString dataFile(const QString& name); // tests/sim/data/<name>

private:
    QTemporaryDir m_home;
    int m_api;
    std::unique_ptr<QProcess> m_emulator;
};
