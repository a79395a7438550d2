#pragma once

#include "sim/SimInstaller.h"

#include <gtest/gtest.h>

// The Android-facing tests exist to meet Google's adb: on a machine that has it, a simulated SDK
// whose platform-tools/adb is anything else fails the test that laid it out, loudly.
inline void expectGoogleAdb(const QString& sdk) {
    const QString google = SimInstaller::googleAdb();
    if (!google.isEmpty() && !SimInstaller::usesGoogleAdb(sdk))
        ADD_FAILURE() << "This machine has Google's adb (" << google.toStdString() << ") but the tests' adb, "
                      << sdk.toStdString() << "/platform-tools/adb, is not it";
}
