#pragma once

#include "../../tests/support/PrivateNetwork.h"
#include "sim/SimInstaller.h"

#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

// A benchmark that drives the simulated Android, whose ports (console 5556, adbd 5557, Google's adb
// server 5037) are fixed, runs in a network namespace of its own, with Google's adb key and the
// console token in a private HOME; the adb server it started stops when this object goes. Declare
// one first thing in main(), while the process is single-threaded, so that it goes last.
struct PrivateAndroidNetwork {
    explicit PrivateAndroidNetwork(const char* program) {
        if (const std::string error = enterPrivateNetwork(); !error.empty()) {
            std::fprintf(stderr, "%s: %s\n", program, error.c_str());
            std::exit(1);
        }
        qputenv("HOME", home.path().toUtf8());
    }
    ~PrivateAndroidNetwork() {
        if (const QString adb = SimInstaller::googleAdb(); !adb.isEmpty())
            QProcess::execute(adb, {QStringLiteral("kill-server")});
    }
    PrivateAndroidNetwork(const PrivateAndroidNetwork&) = delete;
    PrivateAndroidNetwork& operator=(const PrivateAndroidNetwork&) = delete;

    QTemporaryDir home;
};
