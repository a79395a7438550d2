// The display server's host-side process, and how the client starts the server and reads its output.
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "stream/AndroidStreamClient.h"
#include "stream/ServerProcess.h"
#include "support/TestSupport.h"

#include <QMutex>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// A shell script's process and what its handlers were given, in order: output, then "[exit N]".
struct Shell {
    struct Recorded {
        QMutex lock;
        QByteArray events;
        void add(const QByteArray& bytes) {
            QMutexLocker guard(&lock);
            events += bytes;
        }
        QByteArray get() {
            QMutexLocker guard(&lock);
            return events;
        }
    };
    std::shared_ptr<Recorded> recorded = std::make_shared<Recorded>();
    std::shared_ptr<ServerProcess> process;

    explicit Shell(const QString& script) {
        process = ServerProcess::start(
            u"/bin/sh"_s, {u"-c"_s, script},
            {[r = recorded](const QByteArray& chunk) { r->add(chunk); },
             [r = recorded](int status) { r->add("[exit " + QByteArray::number(status) + "]"); }});
    }
    bool exited() {
        return waitUntil([&] { return recorded->get().contains("[exit "); }, 10000);
    }
};

TEST(ServerProcessTest, OutputAndErrorShareOnePipeTheExitComesLastAndWaitsEndWithItOrTheTimeOut) {
    // The grandchild keeps the pipe open long after the shell exits: the exit is still reported once.
    Shell shell(u"echo out; echo err >&2; sleep 20 & exit 3"_s);
    ASSERT_TRUE(shell.exited());
    EXPECT_EQ(shell.recorded->get(), "out\nerr\n[exit 3]");
    EXPECT_FALSE(shell.process->isRunning());

    Shell reader(u"read line; echo last words"_s); // stdin is /dev/null
    EXPECT_TRUE(reader.process->waitForExit(std::chrono::seconds(10)));
    EXPECT_TRUE(reader.recorded->get().startsWith("last words\n")); // forwarded before the wait ended

    Shell sleeper(u"exec sleep 30"_s);
    EXPECT_TRUE(sleeper.process->isRunning());
    EXPECT_FALSE(sleeper.process->waitForExit(std::chrono::milliseconds(50)));
    sleeper.process->terminate();
    EXPECT_TRUE(sleeper.process->waitForExit(std::chrono::seconds(10)));
    ASSERT_TRUE(sleeper.exited());
    EXPECT_EQ(sleeper.recorded->get(), "[exit " + QByteArray::number(SIGTERM) + "]");
    sleeper.process->terminate(); // reaped: must not signal whatever now has that pid
    EXPECT_FALSE(sleeper.process->isRunning());

    EXPECT_EQ(
        thrownDescription<ServerProcessError>([] { ServerProcess::start(u"/nonexistent/adb"_s, {}, {}); }),
        u"posix_spawn: No such file or directory"_s);
}

std::shared_ptr<AndroidStreamClient> makeClient(QSizeF pixelSize = {1080, 2088}) {
    return AndroidStreamClient::create({u"/sdk/platform-tools/adb"_s, u"emulator-5556"_s,
                                        u"/app/scrcpy-server"_s, u"org.example.notes"_s, pixelSize, 320,
                                        8'000'000, 60},
                                       nullptr, nullptr);
}

TEST(ServerArgumentsTest, TheEighteenArgumentsInOrderWithAudioOnUnlessStoredOff) {
    ScopedSettings settings;
    const auto client = makeClient({780, 1448.9}); // each side truncated to a multiple of 8
    const QString scid = u"%1"_s.arg(client->scid(), 8, 16, QChar(u'0'));
    EXPECT_EQ(client->serverArguments(),
              (QStringList{
                  u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"CLASSPATH=/data/local/tmp/scrcpy-server.jar"_s,
                  u"app_process"_s, u"/"_s, u"com.genymobile.scrcpy.Server"_s, u"5.0.1"_s, u"scid="_s + scid,
                  u"log_level=info"_s, u"audio_codec=raw"_s, u"video_bit_rate=8000000"_s, u"max_fps=60"_s,
                  u"new_display=776x1448/320"_s, u"flex_display=true"_s, u"vd_system_decorations=false"_s,
                  u"clipboard_autosync=true"_s, u"power_on=false"_s}));
    EXPECT_EQ(client->socketName(), u"scrcpy_"_s + scid);
    EXPECT_EQ(AndroidStreamClient::displaySize({7.9, 8}), QSize(0, 8));

    // About one session id in eight is below 16^7; draw until one is: it keeps its leading zero.
    std::shared_ptr<AndroidStreamClient> small = client;
    for (int i = 0; i < 400 && small->scid() >= 0x10000000u; ++i)
        small = makeClient();
    ASSERT_LT(small->scid(), 0x10000000u);
    EXPECT_EQ(small->socketName(), u"scrcpy_0%1"_s.arg(small->scid(), 7, 16, QChar(u'0')));
    EXPECT_EQ(small->serverArguments().at(8), u"scid="_s + small->socketName().mid(7));

    // Unset, audio is on (above); stored as false, off (the session whose server dies); stored as
    // something that is no boolean, on.
    VantleSettings::set(SettingsKeys::forwardAudio, u"false"_s);
    EXPECT_TRUE(makeClient()->forwardsAudio());
    EXPECT_EQ(makeClient()->serverArguments().at(10), u"audio_codec=raw"_s);
}

// The first "(id=N)" is the display id; the last error line explains an unasked end.
TEST(ServerArgumentsTest, TheServersOutputGivesTheDisplayIdAndTheReasonOfAnEnd) {
    const std::pair<QString, std::optional<int>> ids[] = {
        {u"[server] INFO: New display: 776x1448/320 (id=7)\n"_s, 7},
        {u"x(id=12) then (id=3)"_s, 12},
        {u"[server] INFO: Device: Google sdk_gphone64 (Android 15)"_s, std::nullopt},
        {u"(id=) (id=x7) id=7"_s, std::nullopt},
        {u"(id=99999999999999)"_s, std::nullopt}, // not an int
    };
    for (const auto& [output, id] : ids)
        EXPECT_EQ(AndroidStreamClient::displayIDIn(output), id) << output.toStdString();
    const std::pair<QString, std::optional<QString>> reasons[] = {
        {u"[server] INFO: Device: x\n[server] ERROR: first\n[server] ERROR: simulated crash after 5 frames\n"_s,
         u"simulated crash after 5 frames"_s},
        // A Java exception's trace follows its error line; the error line is what counts.
        {u"[server] ERROR: Exception on thread Thread[main,5,main]\njava.io.IOException: x\n\tat y\n"_s,
         u"Exception on thread Thread[main,5,main]"_s},
        {u"[server] ERROR: no newline at the end"_s, u"no newline at the end"_s},
        {u"[server] WARN: No app found for package \"x\"\n"_s, std::nullopt},
        {u"[server] ERROR:   \n"_s, std::nullopt},
        {QString(), std::nullopt},
    };
    for (const auto& [output, reason] : reasons)
        EXPECT_EQ(AndroidStreamClient::lastServerError(output), reason) << output.toStdString();
}

} // namespace
