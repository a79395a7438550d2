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
class StreamClientFixture : public ::testing::Test, protected ClientUnderTest {
protected:
    SocketPair video, control, sound;
    // The client's ends, by identity: descriptor numbers are reused, and other threads of the test
    // program open and close descriptors of their own meanwhile.
    QStringList clientSockets{socketName(video.local), socketName(control.local), socketName(sound.local)};

    void SetUp() override {
        makeClient(
            {u"/nonexistent/adb"_s, u"emulator-5556"_s, {}, u"org.example.notes"_s, QSizeF(1080, 2088), 320});
    }

    void serve(bool withAudio = true) {
        std::thread([client = client, v = video.local, c = control.local, a = withAudio ? sound.local : -1] {
            client->serve(v, c, a, std::chrono::steady_clock::now());
        }).detach();
        if (!withAudio) ::close(sound.local);
    }
    void sendVideo(const QByteArray& bytes) { ASSERT_TRUE(writeAll(video.remote, bytes)); }
    QByteArray videoStart(uint32_t codec = h264) { return QByteArray(64, 'n') + be32(codec); }
    // Every socket handed to the client is closed once the client is gone.
    bool clientSocketsClosed() const {
        return waitUntil([this] { return !anyStillOpen(clientSockets); }, 5000);
    }
    void closeRemotes() {
        for (SocketPair* pair : {&video, &control, &sound})
            pair->closeRemote();
    }
};
