#pragma once

#include "sim/DeviceState.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Android's commands as the simulated device provides them. They run inside the device shell's
// sandbox (one executable, called by the command's name through /system/bin links), read and
// change the device's state through DeviceState, and print what Android's own commands print.
struct DeviceContext {
    DeviceState state{QStringLiteral("/data")};

    QJsonObject runtime() const;         // runtime.json: API level, boot and network state, hardware
    void out(const QString& text) const; // to standard output, as UTF-8
    void err(const QString& text) const; // to standard error
    void record(const QString& type, QJsonObject event);
};

using DeviceCommand = int (*)(DeviceContext&, const QStringList& arguments);

int pmCommand(DeviceContext&, const QStringList&);
int cmdCommand(DeviceContext&, const QStringList&);
int amCommand(DeviceContext&, const QStringList&);
int settingsCommand(DeviceContext&, const QStringList&);
int dumpsysCommand(DeviceContext&, const QStringList&);
int contentCommand(DeviceContext&, const QStringList&);
int inputCommand(DeviceContext&, const QStringList&);
int screencapCommand(DeviceContext&, const QStringList&);
int getpropCommand(DeviceContext&, const QStringList&);
int setpropCommand(DeviceContext&, const QStringList&);
int serviceCommand(DeviceContext&, const QStringList&);
int restoreconCommand(DeviceContext&, const QStringList&);
int suCommand(DeviceContext&, const QStringList&);
int chownCommand(DeviceContext&, const QStringList&);
int appProcessCommand(DeviceContext&, const QStringList&);

// Shared between the commands.
namespace DeviceFacts {

inline constexpr const char* launcherActivity = "com.android.launcher3/.uioverrides.QuickstepLauncher";

const QStringList& systemPackages();
bool packageServiceUp(const QJsonObject& state);
// "pkg/.Activity" -> "pkg"
QString packageOf(const QString& component);
// The package named on a command line such as "force-stop [--user N] <package>".
QString packageArgument(const QStringList& arguments);
// Force-stops a package in `state`: its activity, media sessions and notifications go away.
void forceStop(QJsonObject& state, const QString& package);
QString stateNightMode(const QJsonObject& state);

} // namespace DeviceFacts
