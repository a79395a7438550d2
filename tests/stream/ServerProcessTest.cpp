// The server's host-side process: merged output as it comes, one exit report after the output.
#include "stream/ServerProcess.h"

#include "support/TestSupport.h"

#include <QMutex>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct Recorded {
    QMutex lock;
    QByteArray output;
    QList<int> exits;
    bool outputAfterExit = false;
};

std::shared_ptr<ServerProcess> startShell(const QString& script, const std::shared_ptr<Recorded>& recorded) {
    ServerProcess::Handlers handlers;
    handlers.output = [recorded](const QByteArray& chunk) {
        QMutexLocker guard(&recorded->lock);
        if (!recorded->exits.isEmpty()) recorded->outputAfterExit = true;
        recorded->output += chunk;
    };
    handlers.exited = [recorded](int status) {
        QMutexLocker guard(&recorded->lock);
        recorded->exits.append(status);
    };
    return ServerProcess::start(u"/bin/sh"_s, {u"-c"_s, script}, std::move(handlers));
}

bool exited(const std::shared_ptr<Recorded>& recorded) {
    return waitUntil(
        [&] {
            QMutexLocker guard(&recorded->lock);
            return !recorded->exits.isEmpty();
        },
        10000);
}

TEST(ServerProcessTest, OutputAndErrorShareOnePipeAndTheExitComesLast) {
    auto recorded = std::make_shared<Recorded>();
    // The grandchild keeps the pipe open long after the shell exits: the exit is still reported.
    auto process = startShell(u"echo out; echo err >&2; sleep 20 & exit 3"_s, recorded);
    ASSERT_TRUE(exited(recorded));
    QMutexLocker guard(&recorded->lock);
    EXPECT_EQ(recorded->output, "out\nerr\n");
    EXPECT_EQ(recorded->exits, QList<int>{3});
    EXPECT_FALSE(recorded->outputAfterExit);
    EXPECT_FALSE(process->isRunning());
}

TEST(ServerProcessTest, WaitingForTheExitEndsWithItOrWithTheTimeOut) {
    auto recorded = std::make_shared<Recorded>();
    auto process = startShell(u"read line; echo last words"_s, recorded); // stdin is /dev/null
    EXPECT_TRUE(process->waitForExit(std::chrono::seconds(10)));
    {
        QMutexLocker guard(&recorded->lock);
        EXPECT_EQ(recorded->output, "last words\n"); // forwarded before the wait ended
    }
    auto sleeper = startShell(u"exec sleep 30"_s, std::make_shared<Recorded>());
    EXPECT_FALSE(sleeper->waitForExit(std::chrono::milliseconds(50)));
    sleeper->terminate();
    EXPECT_TRUE(sleeper->waitForExit(std::chrono::seconds(10)));
}

TEST(ServerProcessTest, TerminateEndsTheProcessWithItsSignalAndIsHarmlessAfterwards) {
    auto recorded = std::make_shared<Recorded>();
    auto process = startShell(u"exec sleep 30"_s, recorded);
    EXPECT_TRUE(process->isRunning());
    process->terminate();
    ASSERT_TRUE(exited(recorded));
    EXPECT_EQ(recorded->exits, QList<int>{SIGTERM});
    process->terminate(); // reaped: must not signal whatever now has that pid
    EXPECT_FALSE(process->isRunning());
}

TEST(ServerProcessTest, AProgramThatCannotStartThrowsWithTheReason) {
    try {
        ServerProcess::start(u"/nonexistent/adb"_s, {}, {});
        FAIL() << "no error";
    } catch (const ServerProcessError& error) {
        EXPECT_EQ(error.description(), u"posix_spawn: No such file or directory"_s);
    }
}

} // namespace
