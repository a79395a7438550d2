#include "platform/ChildProcess.h"
#include "platform/DetachedProcess.h"
#include "platform/ProcessLedger.h"
#include "support/LookalikeServer.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(DetachedProcess, AnExitedProcessIsNotRunningEvenBeforeItIsReaped) {
    const auto sleeper =
        DetachedProcess::start(u"/bin/sleep"_s, {u"30"_s}, QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(sleeper.pid) << sleeper.error.toStdString();
    EXPECT_TRUE(DetachedProcess::isRunning(*sleeper.pid));
    ::kill(pid_t(*sleeper.pid), SIGKILL);
    // Whoever adopted it may take a moment to reap it; meanwhile it is a zombie.
    EXPECT_TRUE(waitUntil([&] { return !DetachedProcess::isRunning(*sleeper.pid); }, 3000));

    const auto missing =
        DetachedProcess::start(u"/nonexistent/emulator"_s, {}, QProcessEnvironment::systemEnvironment());
    EXPECT_FALSE(missing.pid);
    EXPECT_FALSE(missing.error.isEmpty());
    EXPECT_FALSE(DetachedProcess::isRunning(0));
}

TEST(ChildProcess, CapturesOutputAndStopsAtItsTimeLimit) {
    using enum ChildProcess::Output;
    const auto result = ChildProcess{.program = u"/bin/sh"_s,
                                     .arguments = {u"-c"_s, u"echo out; echo err >&2; exit 7"_s},
                                     .standardError = capture}
                            .run();
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_EQ(result.standardOutput, QByteArray("out\n"));
    EXPECT_EQ(result.standardError, QByteArray("err\n"));

    QElapsedTimer timer;
    timer.start();
    const auto stopped =
        ChildProcess{.program = u"/bin/sleep"_s, .arguments = {u"30"_s}, .timeoutMs = 200}.run();
    EXPECT_TRUE(stopped.timedOut);
    EXPECT_EQ(stopped.exitCode, -1);
    EXPECT_LT(timer.elapsed(), 10'000); // a hang guard only

    const auto notStarted = ChildProcess{.program = u"/nonexistent/adb"_s}.run();
    EXPECT_FALSE(notStarted.started);
    EXPECT_FALSE(notStarted.startError.isEmpty());
}

} // namespace

TEST(ProcessLedger, EndsOnlyTheProcessesItRecordedAsTheyWere) {
    QTemporaryDir folder;
    const QString ledger = folder.filePath(u"run/display-servers"_s);
    const qint64 ours = startLookalikeServer();
    const qint64 foreign = startLookalikeServer();
    const qint64 endedEarlier = startLookalikeServer();
    const qint64 reused = startLookalikeServer();
    ProcessLedger::remember(ledger, ours);
    ProcessLedger::remember(ledger, endedEarlier);
    ProcessLedger::forget(ledger, endedEarlier); // it exited and was reaped: its record goes
    // A record whose pid now names a process started at another time: the pid was reused.
    const std::optional<quint64> start = ProcessLedger::startTime(reused);
    ASSERT_TRUE(start);
    QFile file(ledger);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(QByteArray::number(reused) + ' ' + QByteArray::number(*start + 1) + "\ngarbage line\n");
    file.close();

    EXPECT_EQ(ProcessLedger::endRecorded(ledger), 1);
    EXPECT_TRUE(waitUntil([&] { return !DetachedProcess::isRunning(ours); }, 3000));
    for (qint64 survivor : {foreign, endedEarlier, reused}) {
        EXPECT_TRUE(DetachedProcess::isRunning(survivor)) << survivor;
        ::kill(pid_t(survivor), SIGKILL);
    }
    EXPECT_FALSE(QFileInfo::exists(ledger));
    EXPECT_EQ(ProcessLedger::endRecorded(ledger), 0);
    EXPECT_FALSE(ProcessLedger::startTime(0));
}
