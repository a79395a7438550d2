#pragma once

#include "sim/DeviceShell.h"
#include "sim/EmulatorRun.h"

#include <QByteArray>
#include <QStringList>

// The device one adb call talks to: the running emulator of adb's own SDK and its shell.
struct AdbDevice {
    QString sdk;
    RunningEmulator facts;

    DeviceShell shell() const;
    // Runs `program` inside the device; standard output and error are collected.
    int run(const QStringList& program, int stdinFd, QByteArray* out, QByteArray* err) const;
    int runScript(const QString& script, const QStringList& arguments, int stdinFd, QByteArray* out,
                  QByteArray* err) const;
};

// The adb commands other than the device listing. Each returns adb's exit status.
namespace AdbCommands {
int shell(const AdbDevice& device, const QStringList& arguments);
int install(const AdbDevice& device, const QStringList& arguments, bool multiple);
int uninstall(const AdbDevice& device, const QStringList& arguments);
int push(const AdbDevice& device, const QStringList& arguments);
int pull(const AdbDevice& device, const QStringList& arguments);
int reverse(const AdbDevice& device, const QStringList& arguments);
int emu(const AdbDevice& device, const QStringList& arguments);
} // namespace AdbCommands
