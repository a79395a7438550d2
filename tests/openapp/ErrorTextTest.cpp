// One rule turns whatever a step threw into the user's text, whichever layer threw it, across futures too.
#include "core/VantleError.h"
#include "provisioning/AndroidBridgeComponents.h"
#include "provisioning/RuntimeInstallRecord.h"
#include "provisioning/RuntimeProvisionError.h"
#include "runtime/AndroidRuntimeError.h"
#include "stream/SocketIO.h"

#include <QtConcurrent/QtConcurrentRun>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

template <typename Error> QString describedAfterAFuture(const Error& error) {
    try {
        QtConcurrent::run([error] { error.raise(); }).waitForFinished();
    } catch (const std::exception& thrown) {
        return VantleError::describe(thrown);
    }
    return u"nothing thrown"_s;
}

TEST(ErrorText, EachKindReadsAsItsDescriptionAfterCrossingAFutureAndOtherThrowsKeepTheirTextOrSayUnknown) {
    EXPECT_EQ(describedAfterAFuture(AndroidRuntimeError::packageNameMissing()),
              u"Could not read the APK package name"_s);
    EXPECT_EQ(describedAfterAFuture(RuntimeProvisionError::extract(u"Emulator"_s)),
              u"Could not unpack Emulator"_s);
    EXPECT_EQ(describedAfterAFuture(AndroidBridgeError::missing(u"scrcpy-server"_s)),
              u"Vantle's Android bridge is incomplete (scrcpy-server is missing). Reinstall Vantle."_s);
    EXPECT_EQ(describedAfterAFuture(InstallWriteError(u"/x/config.ini"_s)),
              u"Could not write /x/config.ini"_s);
    EXPECT_EQ(describedAfterAFuture(SocketError(u"accept"_s)), u"failed(\"accept\")"_s);
    // Other throws keep their own text or say it is unknown.
    EXPECT_EQ(VantleError::describe(std::runtime_error("disk full")), u"disk full"_s);
    EXPECT_EQ(VantleError::describe(std::make_exception_ptr(std::runtime_error("disk full"))),
              u"disk full"_s);
    EXPECT_EQ(VantleError::describe(std::make_exception_ptr(AndroidRuntimeError::bootTimeout())),
              u"Vantle Android did not finish starting"_s);
    EXPECT_EQ(VantleError::describe(std::make_exception_ptr(42)), u"Unknown error"_s);
    EXPECT_EQ(VantleError::describe(std::exception_ptr()), u"Unknown error"_s);
}

} // namespace
