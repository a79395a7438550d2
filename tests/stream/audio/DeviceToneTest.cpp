// The simulated device's 440 Hz tone through Vantle's whole audio path: the display server, the
// audio socket, the stream client's reader, the player, Qt Multimedia's QAudioSink and PulseAudio.
#include "PulseAudioServer.h"
#include "SoundRules.h"
#include "core/WaitFor.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/ApkInstaller.h"
#include "sim/server/DisplayServer.h"
#include "stream/QtAudioOutput.h"
#include "stream/StreamTestSupport.h"
#include "support/SimulatedAndroid.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The real Qt Multimedia output, noting when each buffer was scheduled: inside the player's
// `play`, before the sink can have played any of it. Dropped packets never get here.
class TimedOutput : public AudioOutput {
public:
    struct Log {
        std::mutex lock;
        std::vector<Arrival> arrivals;
        std::vector<Arrival> taken() {
            std::lock_guard guard(lock);
            return arrivals;
        }
    };
    explicit TimedOutput(std::shared_ptr<Log> log)
        : m_log(std::move(log)) {}
    bool startEngine() override { return m_real.startEngine(); }
    void schedule(std::vector<float> interleaved, std::function<void()> played) override {
        {
            std::lock_guard guard(m_log->lock);
            m_log->arrivals.push_back({PulseAudioServer::Clock::now(), qint64(interleaved.size() / 2), true});
        }
        m_real.schedule(std::move(interleaved), std::move(played));
    }
    void play() override { m_real.play(); }
    void pause() override { m_real.pause(); }
    void stop() override { m_real.stop(); }

private:
    std::shared_ptr<Log> m_log;
    QtAudioOutput m_real{PCMAudioPlayer::sampleRate, PCMAudioPlayer::channels};
};

class DeviceToneTest : public ::testing::Test, protected ClientUnderTest {
protected:
    static inline SimulatedAndroidHome* android = nullptr;
    static inline QString package;

    static void SetUpTestSuite() {
        if (!PulseAudioServer::shared()) return;
        ScopedSettings settings;
        android = new SimulatedAndroidHome;
        package = Coroutines::waitFor(
            AndroidRuntimeCLI::installAndLaunch(QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk")));
    }
    static void TearDownTestSuite() { delete android; }

    PulseAudioServer* server = PulseAudioServer::shared();
    std::shared_ptr<TimedOutput::Log> scheduled = std::make_shared<TimedOutput::Log>();

    void SetUp() override {
        if (!server && PulseAudioServer::unavailable())
            GTEST_SKIP() << PulseAudioServer::startError().toStdString();
        ASSERT_NE(server, nullptr) << PulseAudioServer::startError().toStdString();
        PCMAudioPlayer::setOutputFactory([log = scheduled] { return std::make_unique<TimedOutput>(log); });
    }
    void TearDown() override {
        if (client) {
            client->stop();
            ClientUnderTest::ended(30000);
        }
        ClientUnderTest::released(30000);
    }
};

TEST_F(DeviceToneTest, TheDevicesToneIsHeardOnTheSinkAsTheRulesSay) {
    makeClient({AndroidRuntimePaths::managed(35).adb(), u"emulator-5556"_s,
                QStringLiteral(VANTLE_BRIDGE_SERVER), package, QSizeF(360, 640), 160, 1'000'000});
    const qint64 from = server->recordedFrames();
    client->start();
    // Two seconds of the tone; the stream goes on while the monitor catches up.
    ASSERT_TRUE(waitUntil([&] { return scheduled->taken().size() >= 100 || !endings.isEmpty(); }, 30000));
    const std::vector<Arrival> arrivals = scheduled->taken();
    ASSERT_GE(arrivals.size(), 100u);
    ASSERT_TRUE(server->recordedUntil(arrivals.back().at + 500ms));
    const std::vector<qint16> heard = server->left(from, server->frameAt(arrivals.back().at + 500ms));
    const SoundReport report = checkAgainstRules(*server, from, heard, arrivals, Ending::streamGoesOn);
    ASSERT_FALSE(report.spans.empty()) << "nothing reached the sink";
    EXPECT_TRUE(report.violations.empty()) << report.describe();
    const SoundSpan longest = *std::max_element(report.spans.begin(), report.spans.end(),
                                                [](auto& a, auto& b) { return a.frames() < b.frames(); });
    EXPECT_GT(toneShare(server->left(longest.start, longest.end), DisplayServer::toneHz), 0.9)
        << report.describe();
}

} // namespace
