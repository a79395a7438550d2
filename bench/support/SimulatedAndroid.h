#pragma once

#include "platform/Locations.h"
#include "sim/SimInstaller.h"

#include <QCoreApplication>
#include <cstdio>

// Lays out the simulated Android of `api` as the current home's managed runtime, from the sim
// programs beside the benchmark's build folder. False, with the reason on stderr under `program`'s
// name, when it cannot. Needs the application object.
inline bool layOutSimulatedAndroid(const char* program, int api = 35) {
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../../sim");
    const QString error = SimInstaller::install({Locations::runtime(), tools, api, 300, 100});
    if (!error.isEmpty()) std::fprintf(stderr, "%s: %s\n", program, qPrintable(error));
    return error.isEmpty();
}
