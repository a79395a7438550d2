// The simulated device's 440 Hz tone through Vantle's whole audio path: the display server, the
// audio socket, the stream client's reader, the player, Qt Multimedia's QAudioSink and PulseAudio.
#include "PulseAudioServer.h"
#include "SoundRules.h"
#include "core/WaitFor.h"
#include "runtime/AndroidRuntimePaths.h"
#include "runtime/ApkInstaller.h"
#include "sim/server/DisplayServer.h"
#include "stream/StreamTestSupport.h"
#include "support/SimulatedAndroid.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Notes each audio packet as the reader hands it on (just after the player had it) and whether
// the player took it.
class ArrivalLog : public StreamRecorderSink {
public:
    std::weak_ptr<AndroidStreamClient> client;
    void appendVideo(const VideoSample&, const VideoFormatRef&, bool) override {}
    void appendAudio(const QByteArray& pcm) override {
        const auto at = PulseAudioServer::Clock::now();
        const auto session = client.lock();
        const auto player = session ? session->audioPlayer() : nullptr;
        if (!player) return;
        const int dropped = player->counters().droppedPackets;
        std::lock_guard guard(lock);
        arrivals.push_back({at, pcm.size() / 4, dropped == droppedSoFar});
        droppedSoFar = dropped;
    }
    std::vector<Arrival> taken() const {
        std::lock_guard guard(lock);
        return arrivals;
    }

private:
    mutable std::mutex lock;
    std::vector<Arrival> arrivals;
    int droppedSoFar = 0;
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

    void SetUp() override {
        if (!server && PulseAudioServer::unavailable())
            GTEST_SKIP() << PulseAudioServer::startError().toStdString();
        ASSERT_NE(server, nullptr) << PulseAudioServer::startError().toStdString();
        PCMAudioPlayer::setOutputFactory(nullptr); // the real output, not the fixture's double
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
    auto log = std::make_shared<ArrivalLog>();
    log->client = client;
    client->setRecorder(log);
    const qint64 from = server->recordedFrames();
    client->start();
    // Two seconds of the tone; the stream goes on while the monitor catches up.
    ASSERT_TRUE(waitUntil([&] { return log->taken().size() >= 100 || !endings.isEmpty(); }, 30000));
    const std::vector<Arrival> arrivals = log->taken();
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
