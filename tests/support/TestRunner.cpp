// Hardware virtualisation counts as usable (the null device stands in for KVM), so that no result
// depends on the machine's /dev/kvm; the tests about it point VANTLE_KVM_DEVICE elsewhere.
#include "support/TestRunner.h"

#include "core/VantleLog.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int runVantleTests(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    qputenv("VANTLE_KVM_DEVICE", "/dev/null");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    VantleLog::main(); // the main log stays in this home even when a test moves VANTLE_HOME
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
