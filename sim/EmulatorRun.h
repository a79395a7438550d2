#pragma once

#include <QString>
#include <optional>

// The registry of the running simulated emulator of one SDK. The emulator holds an exclusive
// flock on <sdk>/.sim-run/emulator-<port>.lock for as long as it lives, so "is it running" never
// depends on a stale file after a crash, and a second emulator on the same port cannot start.
// Next to the lock it writes emulator-<port>.json with the facts adb needs to reach the device.
struct RunningEmulator {
    qint64 pid = 0;
    int api = 0;
    QString avdName;
    QString avdFolder;
    QString dataRoot;    // the device's /data on the host
    bool booted = false; // sys.boot_completed
    bool networkValidated = false;
};

namespace EmulatorRun {

// The running emulator on `port` of the SDK at `sdk`, if one holds the lock.
std::optional<RunningEmulator> find(const QString& sdk, int port);

// Takes the port for this process. Returns the lock's descriptor (kept open for the process's
// lifetime) or -1 when another emulator holds it.
int claim(const QString& sdk, int port);
bool publish(const QString& sdk, int port, const RunningEmulator& facts);
void withdraw(const QString& sdk, int port);

} // namespace EmulatorRun

// Delays of the simulated boot, from <sdk>/emulator/sim/config.json, overridden by the
// environment variables VANTLE_SIM_BOOT_MS and VANTLE_SIM_NETWORK_MS (tests keep them short).
struct SimConfig {
    int bootDelayMs = 2000;
    int networkDelayMs = 1000;

    static SimConfig load(const QString& sdk);
    bool save(const QString& sdk) const;
};
