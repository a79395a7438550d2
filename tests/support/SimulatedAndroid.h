#pragma once

// For test programs that link the simulated device; they define VANTLE_SIM_TOOLS_DIR.
#include "platform/Locations.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"
#include "sim/SimInstaller.h"
#include "sim/SimLayout.h"
#include "support/GoogleAdbCheck.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// A Vantle home of its own (VANTLE_HOME) with the simulated Android installed as its runtime. When
// it goes, the emulator stops and the previous home is back.
class SimulatedAndroidHome {
public:
    explicit SimulatedAndroidHome(int api = 35, int bootDelayMs = 300) {
        qputenv("VANTLE_HOME", m_home.path().toUtf8());
        EXPECT_EQ(install(api, bootDelayMs), QString());
        expectGoogleAdb(SimLayout::sdkRoot(Locations::runtime()));
    }
    ~SimulatedAndroidHome() {
        AndroidRuntimeCLI::killEmulator();
        waitUntil([] { return !AndroidRuntimeCLI::deviceIsListed(); }, 10000);
        qputenv("VANTLE_HOME", m_savedHome);
    }
    SimulatedAndroidHome(const SimulatedAndroidHome&) = delete;
    SimulatedAndroidHome& operator=(const SimulatedAndroidHome&) = delete;

    // Another Android version beside it, or the same one with another boot delay. Empty on success.
    static QString install(int api, int bootDelayMs = 300) {
        return SimInstaller::install(
            {Locations::runtime(), QStringLiteral(VANTLE_SIM_TOOLS_DIR), api, bootDelayMs, 200});
    }

private:
    QByteArray m_savedHome = qgetenv("VANTLE_HOME");
    QTemporaryDir m_home;
};
