#pragma once

#include <QCoro/QCoroTask>
#include <QString>

// "--launch-apk" and `vantlectl launch-apk`: installs and launches the APK, then prints
// "Vantle installed and launched <package>" or "Vantle APK launch failed: <reason>" to standard
// output. Returns the exit status (0 or 1). Main thread; keep the task until it finishes.
QCoro::Task<int> launchApkAndReport(QString apkPath);
