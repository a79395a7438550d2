#pragma once

// Shared by the display-stream fuzz targets: the input travels through a real socket pair, as the
// display server's bytes do, and the reader under test runs on the other end.
#include "core/VantleSettings.h"
#include "platform/linux/SettingsFile.h"
#include "stream/PCMAudioPlayer.h"
#include "stream/SocketIO.h"
#include "stream/StreamStages.h"

#include <QByteArray>
#include <cstdlib>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace StreamFuzz {

// Settings and logs in a throwaway folder; no application object, so nothing is posted to a GUI
// thread that never runs.
inline void initialize() {
    setenv("VANTLE_HOME", "/tmp/vantle-fuzz-home", 0);
    VantleSettings::install(
        std::make_shared<SettingsFile>(QStringLiteral("/tmp/vantle-fuzz-home/settings.json")));
}

// Runs `reader` on one end of a socket pair while a writer thread feeds the input into the other
// end and then closes it.
template <typename Reader> void throughSocket(const uint8_t* data, size_t size, Reader reader) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    std::thread writer([fd = fds[1], &input] {
        writeAll(fd, input);
        ::close(fd);
    });
    reader(fds[0]);
    ::shutdown(fds[0], SHUT_RDWR); // a reader that stopped early must not leave the writer blocked
    writer.join();
    ::close(fds[0]);
}

class NullRenderer : public VideoSink {
public:
    void push(const VideoSample& sample, bool) override { bytes += size_t(sample.data.size()); }
    size_t bytes = 0;
};

// Plays nothing and never completes a buffer.
class NullAudioOutput : public AudioOutput {
public:
    bool startEngine() override { return true; }
    void schedule(std::vector<float>, std::function<void()>) override {}
    void play() override {}
    void pause() override {}
    void stop() override {}
};

} // namespace StreamFuzz
