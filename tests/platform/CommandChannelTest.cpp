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

// Connects `fd` to the command socket the raw way, or binds it there (a socket nobody listens on).
int connectRaw(int fd, bool bind = false) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(Locations::commandSocket()).constData(),
                 sizeof address.sun_path - 1);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    return bind ? ::bind(fd, raw, sizeof address) : ::connect(fd, raw, sizeof address);
}

// vantlectl runs as a separate process; the test's event loop serves the channel meanwhile. Its
// exit status (-1 for a crash) and what it wrote to stderr.
std::pair<int, QString> vantlectl(const QStringList& arguments) {
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + u"/../../app/vantlectl"_s, arguments);
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(CommandFrame, DecodesWholeFramesOnly) {
    const QByteArray frame = CommandFrame::encode(u"open:Notes ✓"_s);
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
        EXPECT_TRUE(listening.listener) << listening.error.toStdString();
    }
    // A command sent now arrives, alone.
    void expectDelivered() {
        received.clear();
        EXPECT_EQ(sendFromAnotherThread(u"home"_s), CommandDelivery::delivered);
        EXPECT_EQ(received, QStringList{u"home"_s});
    }
};

// One listener for the user only, in order; neither a second listener, a busy queue, an oversized
// frame nor running out of descriptors takes it down, and a socket left by a crash is replaced.
TEST(CommandChannel, OneListenerForTheUserDeliversInOrderWhateverComes) {
    std::optional<Recording> first{std::in_place};
    QStringList& received = first->received;
    const auto mode = [](const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 01000u;
    };
    EXPECT_EQ(mode(QFileInfo(Locations::commandSocket()).absolutePath()), 0700u);
    EXPECT_EQ(mode(Locations::commandSocket()) & 01077, 0u) << std::oct << mode(Locations::commandSocket());
    if (::geteuid() == 0) { // another user (nobody) tries to connect from a child process
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
            ::_exit(connectRaw(::socket(AF_UNIX, SOCK_STREAM, 0)) == 0 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "another user could connect";
    }

    const CommandListening second = listenForCommands([](const QString&) {});
    EXPECT_FALSE(second.listener);
    EXPECT_TRUE(second.error.contains(u"another Vantle"_s));
    EXPECT_EQ(vantlectl({u"send"_s, u"open:Notes"_s}).first, 0);
    EXPECT_EQ(vantlectl({u"send"_s, u"add:/tmp/with\nnewline.apk"_s}).first, 0);
    EXPECT_EQ(received, (QStringList{u"open:Notes"_s, u"add:/tmp/with\nnewline.apk"_s}));
    {
        SCOPED_TRACE("too busy to accept: its queue is full while its event loop does not run");
        std::vector<int> waiting;
        for (bool queued = true; queued && waiting.size() <= 10000;) {
            waiting.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
            queued = connectRaw(waiting.back()) == 0;
        }
        const CommandListening third = listenForCommands([](const QString&) {});
        EXPECT_FALSE(third.listener);
        EXPECT_TRUE(third.error.contains(u"another Vantle"_s)) << third.error.toStdString();
        // Out of descriptors as well, a failed accept only delays commands.
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit tight = saved; // room for a couple of the waiting connections, not all
        tight.rlim_cur = rlim_t(QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System).size()) + 2;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const QDeadlineTimer starved(1000);
        while (!starved.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        for (int fd : waiting)
            ::close(fd);
        EXPECT_TRUE(QFileInfo::exists(Locations::commandSocket()));
        first->expectDelivered();
    }
    {
        SCOPED_TRACE("an oversized frame is refused as too long and drops only its connection");
        received.clear();
        QLocalSocket rogue;
        rogue.connectToServer(Locations::commandSocket());
        ASSERT_TRUE(rogue.waitForConnected(1000));
        rogue.write(QByteArray("\x7f\xff\xff\xff", 4));
        EXPECT_TRUE(waitUntil([&] { return rogue.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_EQ(rogue.readAll(), QByteArray(1, CommandFrame::refusedTooLong));
        EXPECT_TRUE(received.isEmpty());
        first->expectDelivered();
        // vantlectl says why instead of sending it; the largest allowed command still goes through.
        const QString tooLong(int(CommandFrame::maxTextBytes) + 1, u'x');
        EXPECT_EQ(sendCommand(tooLong), CommandDelivery::tooLong);
        const auto [status, errors] = vantlectl({u"send"_s, tooLong});
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(errors.contains(u"the command is too long (65537 bytes; at most 65536)"_s))
            << errors.toStdString();
        EXPECT_EQ(vantlectl({u"send"_s, tooLong.left(int(CommandFrame::maxTextBytes))}).first, 0);
        EXPECT_EQ(received.size(), 2);
        // The size given is that of the command sent, a relative path completed from this folder.
        const QString relative = u"add:"_s + tooLong.left(int(CommandFrame::maxTextBytes) - 4);
        const qsizetype sent = relative.size() + QDir::currentPath().toUtf8().size() + 1;
        const auto [relativeStatus, relativeErrors] = vantlectl({u"send"_s, relative});
        EXPECT_EQ(relativeStatus, 1);
        EXPECT_TRUE(relativeErrors.contains(u"the command is too long (%1 bytes;"_s.arg(sent)))
            << relativeErrors.toStdString();
    }
    QLocalSocket open; // still connected when its listener goes
    open.connectToServer(Locations::commandSocket());
    ASSERT_TRUE(open.waitForConnected(2000));
    first->expectDelivered(); // accepted by now, as it came first
    first.reset();
    SCOPED_TRACE("a socket file left behind with nobody listening, as by a crashed Vantle");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(connectRaw(fd, true), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(Locations::commandSocket()));
    Recording().expectDelivered();
}

// Connections that never send must not take the channel down or away: past the cap the oldest goes,
// keeping the acknowledgement of a command that just ran on it (without it the sender would report a
// failure and send the command again); a silent one goes after the idle time.
TEST(CommandChannel, IdleConnectionsAreCappedAndTimedOutAndKeepTheirAcknowledgement) {
    const auto connect = [](QLocalSocket& socket) {
        socket.connectToServer(Locations::commandSocket());
        return socket.waitForConnected(2000);
    };
    QStringList received;
    QLocalSocket first, second;
    // While the first command runs (its acknowledgement is written, not yet sent) a second connection
    // arrives, which puts the first over the cap.
    std::optional<CommandListening> listening{listenForCommands(
        [&](const QString& command) {
            received.append(command);
            if (received.size() == 1) {
                EXPECT_TRUE(connect(second));
            }
        },
        {/*maxConnections*/ 1, /*idleTimeoutMs*/ 600'000})};
    ASSERT_TRUE(listening->listener) << listening->error.toStdString();
    ASSERT_TRUE(connect(first));
    first.write(CommandFrame::encode(u"home"_s));
    ASSERT_TRUE(first.waitForBytesWritten(2000));
    EXPECT_TRUE(waitUntil([&] { return first.state() != QLocalSocket::ConnectedState; }));
    ASSERT_EQ(received, QStringList{u"home"_s});
    EXPECT_EQ(first.read(1), QByteArray(1, CommandFrame::acknowledge));
    EXPECT_EQ(second.state(), QLocalSocket::ConnectedState); // the newest is kept
    EXPECT_EQ(sendFromAnotherThread(u"back"_s), CommandDelivery::delivered);
    EXPECT_EQ(received, (QStringList{u"home"_s, u"back"_s}));

    listening.reset();
    const Recording channel(CommandListenerLimits{8, 300});
    QLocalSocket silent;
    ASSERT_TRUE(connect(silent));
    EXPECT_TRUE(waitUntil([&] { return silent.state() != QLocalSocket::ConnectedState; }, 10000));
}

// The instance lock, not the socket, decides single instance and tells a Vantle that does not
// answer from one that is not there.
TEST(InstanceLock, OneHolderAtATimeUntilItsProcessEnds) {
    EXPECT_FALSE(InstanceLock::runningPid());
    EXPECT_EQ(sendCommand(u"home"_s, 500), CommandDelivery::notRunning);
    {
        const InstanceLock first = InstanceLock::acquire();
        ASSERT_TRUE(first.isHeld()) << first.error().toStdString();
        EXPECT_EQ(InstanceLock::runningPid(), QCoreApplication::applicationPid());
        const InstanceLock second = InstanceLock::acquire();
        EXPECT_FALSE(second.isHeld());
        EXPECT_EQ(second.holderPid(), QCoreApplication::applicationPid());
        EXPECT_EQ(sendCommand(u"home"_s, 500), CommandDelivery::notAnswering);
        EXPECT_EQ(vantlectl({u"send"_s, u"home"_s}),
                  std::pair(1, u"vantlectl: Vantle is running but did not answer; try again\n"_s));
    }
    EXPECT_FALSE(InstanceLock::runningPid());

    // A holder that is killed leaves its lock file behind; the next Vantle takes it over.
    QProcess holder;
    holder.start(QCoreApplication::applicationDirPath() + u"/settings_writer"_s, {u"lock"_s});
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
