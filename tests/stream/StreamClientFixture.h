#pragma once

// A stream client serving socket pairs, for the tests of its streaming phase.
#include "StreamTestSupport.h"
#include "stream/AndroidStreamClient.h"
#include "stream/PCMAudioPlayer.h"
#include "stream/SocketIO.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <thread>

using namespace Qt::StringLiterals;

inline constexpr uint32_t h264 = 0x68323634;

// One client serving three socket pairs on a thread of its own, as the start thread would.
class StreamClientFixture : public ::testing::Test {
protected:
    ScopedSettings settings;
    std::shared_ptr<FakeAudioOutput::Shared> audio = std::make_shared<FakeAudioOutput::Shared>();
    std::shared_ptr<RecordingRenderer> renderer = std::make_shared<RecordingRenderer>();
    std::shared_ptr<VantleLog> log = freshLog();
    std::shared_ptr<AndroidStreamClient> client;
    SocketPair video, control, sound;
    // The client's ends, by identity: descriptor numbers are reused, and other threads of the test
    // program open and close descriptors of their own meanwhile.
    QStringList clientSockets{socketName(video.local), socketName(control.local), socketName(sound.local)};
    QList<std::optional<QString>> endings;
    QList<QSize> sizes;
    int firstFrames = 0;
    QList<std::shared_ptr<ImageBox>> snapshots;

    void SetUp() override {
        PCMAudioPlayer::setOutputFactory(
            [shared = audio] { return std::make_unique<FakeAudioOutput>(shared); });
        client = AndroidStreamClient::create(
            {u"/nonexistent/adb"_s, u"emulator-5556"_s, {}, u"org.example.notes"_s, QSizeF(1080, 2088), 320},
            renderer, log);
        client->onEnded = [this](std::optional<QString> error) { endings.append(error); };
        client->onVideoSize = [this](QSize size) { sizes.append(size); };
        client->onFirstFrame = [this] { ++firstFrames; };
        client->onSnapshot = [this](std::shared_ptr<ImageBox> box) { snapshots.append(box); };
    }
    void TearDown() override { PCMAudioPlayer::setOutputFactory(nullptr); }

    void serve(bool withAudio = true) {
        std::thread([client = client, v = video.local, c = control.local, a = withAudio ? sound.local : -1] {
            client->serve(v, c, a, std::chrono::steady_clock::now());
        }).detach();
        if (!withAudio) ::close(sound.local);
    }
    void sendVideo(const QByteArray& bytes) { ASSERT_TRUE(writeAll(video.remote, bytes)); }
    QByteArray videoStart(uint32_t codec = h264) { return QByteArray(64, 'n') + be32(codec); }
    bool ended() {
        return waitUntil([this] { return !endings.isEmpty(); }, 10000);
    }
    bool released() { return releaseClient(client, 10000); }
    // Every socket handed to the client is closed once the client is gone.
    bool clientSocketsClosed() const {
        return waitUntil([this] { return !anyStillOpen(clientSockets); }, 5000);
    }
    void closeRemotes() {
        for (SocketPair* pair : {&video, &control, &sound})
            pair->closeRemote();
    }
};
