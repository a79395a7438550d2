// How fast the simulated display server produces video: frames per second encoded live (synthetic
// screen painted, converted and encoded with libx264) at a given size, and how fast replay mode
// delivers a recorded stream over a loopback TCP socket to a reader that only reads. Replay must
// stay far above any client's decode rate so that client benchmarks never measure the simulator.
//
//   sim_display_bench [width height] [seconds]
#include "sim/server/H264Encoder.h"
#include "sim/server/ReplayFile.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double liveEncodeFps(int width, int height, double duration) {
    H264Encoder encoder(width, height, 60, 8000000);
    ScreenImage image(width, height);
    ScreenState screen;
    screen.package = QStringLiteral("org.vantle.bench");
    screen.label = QStringLiteral("Bench");
    int frames = 0;
    const auto start = Clock::now();
    while (seconds(start) < duration) {
        screen.frame = quint64(frames);
        screen.clockMs = frames * 16;
        screen.touches = {QPoint((frames * 7) % width, (frames * 13) % height)};
        ScreenPainter::paint(image, screen);
        encoder.encode(image, frames, false);
        ++frames;
    }
    return frames / seconds(start);
}

struct ReplayRate {
    double framesPerSecond = 0, megabytesPerSecond = 0;
};

// The server's replay loop (whole packets prepared once, then only writes) against a reader.
ReplayRate replayRate(const ReplayFile& replay, double duration) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int writer = socket(AF_INET, SOCK_STREAM, 0);
    connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int reader = accept(listener, nullptr, nullptr);

    std::vector<QByteArray> packets;
    for (const ReplayFile::Frame& frame : replay.frames) {
        QByteArray bytes(12, '\0');
        const uint32_t size = uint32_t(frame.data.size());
        bytes[0] = frame.key ? char(0x20) : char(0);
        for (int i = 0; i < 4; ++i)
            bytes[8 + i] = char((size >> (24 - 8 * i)) & 0xff);
        packets.push_back(bytes + frame.data);
    }
    long long bytesRead = 0;
    std::thread drain([&] {
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const ssize_t n = read(reader, buffer.data(), buffer.size());
            if (n <= 0) break;
            bytesRead += n;
        }
    });
    long long frames = 0, bytesWritten = 0;
    const auto start = Clock::now();
    for (size_t i = 0; seconds(start) < duration; i = (i + 1) % packets.size(), ++frames) {
        const QByteArray& p = packets[i];
        for (qsizetype off = 0; off < p.size();) {
            const ssize_t n = send(writer, p.constData() + off, size_t(p.size() - off), MSG_NOSIGNAL);
            if (n <= 0) break;
            off += n;
        }
        bytesWritten += p.size();
    }
    const double elapsed = seconds(start);
    shutdown(writer, SHUT_WR);
    drain.join();
    for (int fd : {writer, reader, listener})
        close(fd);
    return {frames / elapsed, double(bytesWritten) / elapsed / 1e6};
}

} // namespace

int main(int argc, char** argv) {
    const int width = argc >= 3 ? std::atoi(argv[1]) : 1080, height = argc >= 3 ? std::atoi(argv[2]) : 2088;
    const double duration = argc >= 4 ? std::atof(argv[3]) : 5.0;
    std::printf("simulated display server, %dx%d, %u hardware threads\n", width, height,
                std::thread::hardware_concurrency());
    std::printf("live encode (paint + convert + libx264 ultrafast): %.1f fps\n",
                liveEncodeFps(width, height, duration));

    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("replay.h264"));
    const QString error = ReplayFile::create(file, width, height, 120);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "cannot make the replay file: %s\n", qPrintable(error));
        return 1;
    }
    const std::optional<ReplayFile> replay = ReplayFile::load(file);
    if (!replay) return 1;
    const ReplayRate rate = replayRate(*replay, duration);
    std::printf("replay over loopback TCP (as fast as read): %.0f frames/s, %.1f MB/s\n",
                rate.framesPerSecond, rate.megabytesPerSecond);
    return 0;
}
