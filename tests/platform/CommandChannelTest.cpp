#include "platform/CommandChannel.h"

#include "platform/CommandFrame.h"
#include "platform/InstanceLock.h"
#include "platform/Locations.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The address of the command socket, for raw connections that Qt would not make.
sockaddr_un socketAddress() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(Locations::commandSocket()).constData(),
                 sizeof address.sun_path - 1);
    return address;
}

int connectRaw(int fd) {
    const sockaddr_un address = socketAddress();
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

TEST(CommandFrame, DecodesWholeFramesOnly) {
    const QByteArray frame = CommandFrame::encode(u"open:Notes ✓"_s);
    ASSERT_EQ(frame.size(), 4 + 14);
    EXPECT_EQ(frame.left(4), QByteArray("\x00\x00\x00\x0e", 4)); // big-endian length of the UTF-8 text

    for (qsizetype cut = 0; cut < frame.size(); ++cut)
        EXPECT_EQ(CommandFrame::decode(frame.left(cut)).status, CommandFrame::Status::incomplete) << cut;

    const auto decoded = CommandFrame::decode(frame + CommandFrame::encode(u"back"_s));
    EXPECT_EQ(decoded.status, CommandFrame::Status::complete);
    EXPECT_EQ(decoded.text, u"open:Notes ✓"_s);
    EXPECT_EQ(decoded.consumed, frame.size());

    EXPECT_EQ(CommandFrame::decode(CommandFrame::encode(QString())).text, QString());
    EXPECT_EQ(CommandFrame::decode(QByteArray("\x00\x01\x00\x01", 4)).status, CommandFrame::Status::invalid);
}

// A listener that records what it receives.
struct Recording {
    QStringList received;
    CommandListening listening;
    explicit Recording(CommandListenerLimits limits = {})
        : listening(listenForCommands([this](const QString& command) { received.append(command); }, limits)) {
    }
    // A command sent now arrives, alone.
    void expectDelivered() {
        received.clear();
        EXPECT_EQ(sendFromAnotherThread(u"home"_s), CommandDelivery::delivered);
        EXPECT_EQ(received, QStringList{u"home"_s});
    }
};

TEST(CommandChannel, OnlyTheUserCanReachTheSocket) {
    const Recording channel;
    ASSERT_TRUE(channel.listening.listener) << channel.listening.error.toStdString();
    const QString socket = Locations::commandSocket();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(socket).absolutePath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(socket).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << std::oct << info.st_mode;

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to try as another user";
    // Another user (nobody) tries to connect from a child process.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        ::_exit(connectRaw(::socket(AF_UNIX, SOCK_STREAM, 0)) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "another user could connect";
}

TEST(CommandChannel, OneListenerAtATimeDeliversInOrderAndRefusesOversizedFrames) {
    {
        Recording first;
        QStringList& received = first.received;
        ASSERT_TRUE(first.listening.listener) << first.listening.error.toStdString();
        const CommandListening second = listenForCommands([](const QString&) {});
        EXPECT_FALSE(second.listener);
        EXPECT_TRUE(second.error.contains(u"another Vantle"_s));
        EXPECT_EQ(vantlectl({u"send"_s, u"open:Notes"_s}).status, 0);
        EXPECT_EQ(vantlectl({u"send"_s, u"add:/tmp/with\nnewline.apk"_s}).status, 0);
        EXPECT_EQ(received, (QStringList{u"open:Notes"_s, u"add:/tmp/with\nnewline.apk"_s}));
        // A frame announcing more than a command may hold is refused as too long; only that
        // connection is dropped.
        QLocalSocket rogue;
        rogue.connectToServer(Locations::commandSocket());
        ASSERT_TRUE(rogue.waitForConnected(1000));
        rogue.write(QByteArray("\x7f\xff\xff\xff", 4));
        EXPECT_TRUE(waitUntil([&] { return rogue.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_EQ(rogue.readAll(), QByteArray(1, CommandFrame::refusedTooLong));
        EXPECT_EQ(vantlectl({u"send"_s, u"back"_s}).status, 0);
        EXPECT_EQ(received.mid(2), QStringList{u"back"_s}); // nothing from the rogue connection

        // vantlectl says why instead of sending it; the largest allowed command still goes through.
        const QString tooLong(int(CommandFrame::maxTextBytes) + 1, u'x');
        EXPECT_EQ(sendCommand(tooLong), CommandDelivery::tooLong);
        const VantlectlRun refused = vantlectl({u"send"_s, tooLong});
        EXPECT_EQ(refused.status, 1);
        EXPECT_TRUE(refused.errors.contains(u"the command is too long (65537 bytes; at most 65536)"_s))
            << refused.errors.toStdString();
        EXPECT_EQ(vantlectl({u"send"_s, tooLong.left(int(CommandFrame::maxTextBytes))}).status, 0);
        EXPECT_EQ(received.size(), 4);

        // The size given is that of the command sent, a relative path completed from this folder.
        const QString relative = u"add:"_s + tooLong.left(int(CommandFrame::maxTextBytes) - 4);
        const qsizetype sent = relative.size() + QDir::currentPath().toUtf8().size() + 1;
        const VantlectlRun relativeRun = vantlectl({u"send"_s, relative});
        EXPECT_EQ(relativeRun.status, 1);
        EXPECT_TRUE(relativeRun.errors.contains(u"the command is too long (%1 bytes;"_s.arg(sent)))
            << relativeRun.errors.toStdString();

        // A listener too busy to accept is still a listener: fill its queue of waiting connections
        // while its event loop does not run.
        std::vector<int> waiting;
        for (bool queued = true; queued && waiting.size() <= 10000;) {
            waiting.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
            queued = connectRaw(waiting.back()) == 0;
        }
        const CommandListening third = listenForCommands([](const QString&) {});
        EXPECT_FALSE(third.listener);
        EXPECT_TRUE(third.error.contains(u"another Vantle"_s)) << third.error.toStdString();
        for (int fd : waiting)
            ::close(fd);
        first.expectDelivered();
    }
    // A socket file left behind with nobody listening, as by a crashed Vantle, is replaced.
    const sockaddr_un address = socketAddress();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(Locations::commandSocket()));
    const CommandListening listening = listenForCommands([](const QString&) {});
    EXPECT_TRUE(listening.listener) << listening.error.toStdString();
}

// Connections that never send must not take the channel down or away: the oldest ones beyond the
// cap and the silent ones are dropped, and commands keep arriving.
TEST(CommandChannel, IdleConnectionsAreCappedAndTimedOut) {
    std::optional<Recording> channel{std::in_place, CommandListenerLimits{8, 600'000}};
    ASSERT_TRUE(channel->listening.listener) << channel->listening.error.toStdString();
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    const auto connectIdle = [&] {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(Locations::commandSocket());
        return idle.back()->waitForConnected(2000);
    };
    for (int i = 0; i < 290; ++i) {
        ASSERT_TRUE(connectIdle()) << i;
        if (i % 16 == 0) QCoreApplication::processEvents();
    }
    const auto connected = [&] {
        return std::count_if(idle.cbegin(), idle.cend(), [](const auto& socket) {
            return socket->state() == QLocalSocket::ConnectedState;
        });
    };
    EXPECT_TRUE(waitUntil([&] { return connected() <= 8; })) << connected();
    EXPECT_EQ(idle.back()->state(), QLocalSocket::ConnectedState); // the newest are kept
    EXPECT_TRUE(QFileInfo::exists(Locations::commandSocket()));
    channel->expectDelivered();

    // A connection that stays silent for the idle time is dropped.
    idle.clear();
    channel.reset();
    channel.emplace(CommandListenerLimits{8, 300});
    ASSERT_TRUE(channel->listening.listener) << channel->listening.error.toStdString();
    ASSERT_TRUE(connectIdle());
    EXPECT_TRUE(waitUntil([&] { return connected() == 0; }, 10000));
}

// A connection dropped for the cap right after its command ran still gets its acknowledgement;
// without it the sender would report a failure and send the command again.
TEST(CommandChannel, AConnectionDroppedAtTheCapKeepsItsAcknowledgement) {
    QStringList received;
    QLocalSocket first;
    QLocalSocket second;
    // While the command runs (its acknowledgement is written, not yet sent) a second connection
    // arrives, which puts the first over the cap.
    const CommandListening listening = listenForCommands(
        [&](const QString& command) {
            received.append(command);
            second.connectToServer(Locations::commandSocket());
            EXPECT_TRUE(second.waitForConnected(2000));
        },
        {/*maxConnections*/ 1, /*idleTimeoutMs*/ 600'000});
    ASSERT_TRUE(listening.listener) << listening.error.toStdString();
    first.connectToServer(Locations::commandSocket());
    ASSERT_TRUE(first.waitForConnected(2000));
    first.write(CommandFrame::encode(u"home"_s));
    ASSERT_TRUE(first.waitForBytesWritten(2000));
    ASSERT_TRUE(waitUntil(
        [&] { return first.bytesAvailable() > 0 || first.state() != QLocalSocket::ConnectedState; }));

    ASSERT_EQ(received, QStringList{u"home"_s});
    EXPECT_EQ(first.read(1), QByteArray(1, CommandFrame::acknowledge));
}

// Out of file descriptors, a failed accept must not end the listener (nor delete its socket).
TEST(CommandChannel, RunningOutOfDescriptorsOnlyDelaysCommands) {
    Recording channel;
    ASSERT_TRUE(channel.listening.listener) << channel.listening.error.toStdString();
    // A child process holds the connections, so that only this process runs short.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        for (int i = 0; i < 20; ++i)
            connectRaw(::socket(AF_UNIX, SOCK_STREAM, 0));
        [[maybe_unused]] const ssize_t written = ::write(ready[1], "r", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlim_t open = rlim_t(QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System).size());
    rlimit tight = saved;
    tight.rlim_cur = open + 2; // room for a couple of the child's connections, not all
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const QDeadlineTimer starved(1000);
    while (!starved.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    EXPECT_TRUE(QFileInfo::exists(Locations::commandSocket()));
    channel.expectDelivered();
}

// The lock, not the socket, also tells a Vantle that does not answer from one that is not there.
TEST(InstanceLock, OneHolderAtATimeUntilItsProcessEnds) {
    EXPECT_FALSE(InstanceLock::runningPid());
    EXPECT_EQ(sendCommand(u"home"_s, 500), CommandDelivery::notRunning);
    {
        const InstanceLock first = InstanceLock::acquire();
        ASSERT_TRUE(first.isHeld()) << first.error().toStdString();
        EXPECT_EQ(sendCommand(u"home"_s, 500), CommandDelivery::notAnswering);
        const VantlectlRun run = vantlectl({u"send"_s, u"home"_s});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, u"vantlectl: Vantle is running but did not answer; try again\n"_s);
        EXPECT_EQ(InstanceLock::runningPid(), QCoreApplication::applicationPid());
        const InstanceLock second = InstanceLock::acquire();
        EXPECT_FALSE(second.isHeld());
        EXPECT_EQ(second.holderPid(), QCoreApplication::applicationPid());
    }
    EXPECT_FALSE(InstanceLock::runningPid());

    // A holder that is killed leaves its lock file behind; the next Vantle takes it over.
    QProcess holder;
    holder.start(QCoreApplication::applicationDirPath() + u"/lock_holder"_s);
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_EQ(holder.readLine(), QByteArray("held\n"));
    EXPECT_EQ(InstanceLock::runningPid(), holder.processId());
    EXPECT_FALSE(InstanceLock::acquire().isHeld());
    holder.kill();
    holder.waitForFinished();
    ASSERT_TRUE(QFileInfo::exists(Locations::instanceLock()));
    EXPECT_FALSE(InstanceLock::runningPid());
    EXPECT_TRUE(InstanceLock::acquire().isHeld());
}

} // namespace
