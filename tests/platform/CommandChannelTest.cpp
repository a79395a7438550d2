#include "platform/CommandChannel.h"
#include "platform/CommandFrame.h"
#include "platform/Locations.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

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

class CommandChannelTest : public ::testing::Test {
protected:
    QStringList received;
    CommandListening listening =
        listenForCommands([this](const QString& command) { received.append(command); });

    void SetUp() override { ASSERT_TRUE(listening.listener) << listening.error.toStdString(); }

    // vantlectl runs as a separate process; the test's event loop serves the channel meanwhile.
    int runVantlectl(const QStringList& arguments) {
        QProcess process;
        process.start(QCoreApplication::applicationDirPath() + u"/../../app/vantlectl"_s, arguments);
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};

TEST_F(CommandChannelTest, VantlectlDeliversCommandsInOrder) {
    EXPECT_EQ(runVantlectl({u"send"_s, u"open:Notes"_s}), 0);
    EXPECT_EQ(runVantlectl({u"send"_s, u"add:/tmp/with\nnewline.apk"_s}), 0);
    EXPECT_EQ(received, (QStringList{u"open:Notes"_s, u"add:/tmp/with\nnewline.apk"_s}));
}

TEST_F(CommandChannelTest, OnlyTheUserCanReachTheSocket) {
    const QString socket = Locations::commandSocket();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(socket).absolutePath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(socket).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << std::oct << info.st_mode;

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to try as another user";
    // Another user (nobody) tries to connect from a child process.
    const QByteArray path = QFile::encodeName(socket);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        ::_exit(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "another user could connect";
}

TEST_F(CommandChannelTest, ASecondListenerIsRefusedAndTheFirstKeepsWorking) {
    const CommandListening second = listenForCommands([](const QString&) {});
    EXPECT_FALSE(second.listener);
    EXPECT_TRUE(second.error.contains(u"another Vantle"_s));
    EXPECT_EQ(runVantlectl({u"send"_s, u"home"_s}), 0);
    EXPECT_EQ(received, QStringList{u"home"_s});
}

TEST_F(CommandChannelTest, AnOversizedFrameDropsOnlyThatConnection) {
    QLocalSocket rogue;
    rogue.connectToServer(Locations::commandSocket());
    ASSERT_TRUE(rogue.waitForConnected(1000));
    rogue.write(QByteArray("\x7f\xff\xff\xff", 4));
    EXPECT_TRUE(waitUntil([&] { return rogue.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_TRUE(received.isEmpty());
    EXPECT_EQ(runVantlectl({u"send"_s, u"back"_s}), 0);
    EXPECT_EQ(received, QStringList{u"back"_s});
}

TEST(CommandChannel, SendingWithoutVantleSaysItIsNotRunning) {
    EXPECT_EQ(sendCommand(u"home"_s, 500), CommandDelivery::notRunning);
}

TEST(CommandChannel, AStaleSocketOfADeadProcessIsReplaced) {
    {
        const CommandListening first = listenForCommands([](const QString&) {});
        ASSERT_TRUE(first.listener);
    }
    // Leave a socket file behind with nobody listening, as a crashed Vantle would.
    const QByteArray path = QFile::encodeName(Locations::commandSocket());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(QString::fromUtf8(path)));

    const CommandListening listening = listenForCommands([](const QString&) {});
    EXPECT_TRUE(listening.listener) << listening.error.toStdString();
}

} // namespace
