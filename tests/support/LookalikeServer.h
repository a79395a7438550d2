#pragma once

#include "platform/DetachedProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

// A process whose command line names the display server, as a user's own phone mirroring would;
// `exec -a` keeps it one process. Returns once its command line shows the name (bash has made its
// exec), so a test never reads the shell's command line instead.
inline qint64 startLookalikeServer() {
    using namespace Qt::Literals::StringLiterals;
    const auto started = DetachedProcess::start(
        u"/bin/bash"_s, {u"-c"_s, u"exec -a com.genymobile.scrcpy.Server /bin/sleep 30"_s},
        QProcessEnvironment::systemEnvironment());
    EXPECT_TRUE(started.pid) << started.error.toStdString();
    EXPECT_TRUE(waitUntil([&] {
        QFile cmdline(u"/proc/%1/cmdline"_s.arg(started.pid.value_or(0)));
        return cmdline.open(QIODevice::ReadOnly) &&
               cmdline.readAll().startsWith("com.genymobile.scrcpy.Server");
    }));
    return started.pid.value_or(0);
}
