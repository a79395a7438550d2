#pragma once

#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"

#include <QThread>

// The simulated Android a benchmark started stops with it, before its home folder goes away:
// declare one right after the application object.
struct StopsAndroid {
    StopsAndroid() = default;
    StopsAndroid(const StopsAndroid&) = delete;
    StopsAndroid& operator=(const StopsAndroid&) = delete;
    ~StopsAndroid() {
        AndroidRuntimeCLI::killEmulator();
        for (int polls = 0; polls < 100 && AndroidRuntimeCLI::deviceIsListed(); ++polls)
            QThread::msleep(100);
    }
};
