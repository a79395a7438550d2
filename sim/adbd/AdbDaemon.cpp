#include "sim/adbd/AdbDaemon.h"

#include "sim/adbd/AdbMessage.h"
#include "sim/adbd/AdbService.h"
#include "sim/adbd/EmulatorConsole.h"
#include "sim/adbd/ShellPacket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Streams one connection may hold open at once; an OPEN beyond it is refused.
constexpr std::size_t maxStreams = 64;
// Child output is read in pieces of at most this size (and of the negotiated maximum).
constexpr std::size_t outputChunkBytes = 64 * 1024;

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int listenLoopback(int port, std::string& error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

// A device-side socket of a reverse forward: "tcp:<port>" on loopback or "localabstract:<name>".
int listenDevice(const std::string& spec, std::string& error) {
    if (spec.starts_with("tcp:")) return listenLoopback(std::stoi(spec.substr(4)), error);
    const std::string name = spec.substr(14);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), std::min(name.size(), sizeof address.sun_path - 1));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 16) != 0) {
        error = std::string(strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

// The status adbd writes on a reverse request's stream: "OKAY", or "FAIL" and a hex-length text;
// a listing is written as a hex-length text alone.
std::string failStatus(const std::string& message) {
    char length[8];
    std::snprintf(length, sizeof length, "%04zx", message.size());
    return "FAIL" + std::string(length) + message;
}

// The adb server's smart-socket request "<4 hex digits of length><request>", as Google's emulator
// sends it to register itself; the server then connects to the adb port.
void announce(int serverPort, int adbPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(serverPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "host:emulator:" + std::to_string(adbPort);
        char length[8];
        std::snprintf(length, sizeof length, "%04zx", request.size());
        const std::string bytes = length + request;
        [[maybe_unused]] const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    if (fd >= 0) close(fd);
}

// A device program behind one stream; its descriptors are non-blocking pipe ends.
struct Stream {
    std::uint32_t localId = 0;
    std::uint32_t remoteId = 0;
    bool shellProtocol = false;
    pid_t pid = -1;
    int in = -1;  // the program's stdin
    int out = -1; // its stdout (with stderr unless shellProtocol)
    int err = -1; // its stderr under the shell protocol
    std::string toProgram;
    bool closeInWhenDrained = false;
    bool okayOwed = false;     // the host's WRTE is acknowledged once toProgram drains
    bool awaitingOkay = false; // our WRTE is in flight: the next waits for its OKAY
    std::optional<ShellPacket::Reader> packets;
    std::optional<int> exitStatus;
    bool done = false;
};

struct Connection {
    int fd = -1;
    Adb::MessageReader reader{Adb::maxPayloadV1};
    std::string out;
    bool online = false;
    std::optional<Adb::Message> pendingConnect; // CNXN received before the boot completed
    std::uint32_t maxPayloadBytes = Adb::maxPayloadV1;
    std::map<std::uint32_t, Stream> streams;
    // Reverse forwards: a device-side listener per local spec, with the host side it leads to.
    struct Listener {
        int fd = -1;
        std::string remote;
    };
    std::map<std::string, Listener> reverse;
    bool closed = false;
};

struct ConsoleConnection {
    int fd = -1;
    EmulatorConsole console;
    std::string in;
    std::string out;
    bool closeWhenSent = false;
    bool killWhenSent = false;
    bool closed = false;
};

void send(Connection& connection, std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1,
          std::string payload = {}) {
    connection.out += Adb::encode({command, arg0, arg1, std::move(payload)});
}

// Where a device program's stderr goes: into its stdout (adbd's streams without the shell
// protocol), a pipe of its own (shell protocol), or nowhere (the file service, whose stdout is
// the protocol).
enum class Stderr { joined, separate, discarded };

pid_t spawn(const std::vector<std::string>& argv, Stderr stderrMode, int& in, int& out, int& err) {
    const bool separateStderr = stderrMode == Stderr::separate;
    int toChild[2], fromChild[2], errors[2] = {-1, -1};
    if (pipe2(toChild, O_CLOEXEC) != 0) return -1;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return -1;
    }
    if (separateStderr && pipe2(errors, O_CLOEXEC) != 0) errors[0] = errors[1] = -1;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The emulator takes its stop signals synchronously; the device's programs get them back.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        if (stderrMode == Stderr::discarded) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 2);
        } else {
            dup2(errors[1] >= 0 ? errors[1] : fromChild[1], 2);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (errors[1] >= 0) close(errors[1]);
    if (pid < 0) {
        close(toChild[1]);
        close(fromChild[0]);
        if (errors[0] >= 0) close(errors[0]);
        return -1;
    }
    in = toChild[1];
    out = fromChild[0];
    err = errors[0];
    for (int fd : {in, out, err})
        if (fd >= 0) setNonBlocking(fd);
    return pid;
}

} // namespace

struct AdbDaemon::Loop {
    Setup setup;
    int adbListener = -1;
    int consoleListener = -1;
    int wake[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    std::atomic<bool> booted{false};
    std::list<Connection> connections;
    std::list<ConsoleConnection> consoles;
    std::uint32_t nextLocalId = 1;

    ~Loop() {
        for (Connection& connection : connections)
            dropConnection(connection);
        for (ConsoleConnection& console : consoles)
            closeFd(console.fd);
        closeFd(adbListener);
        closeFd(consoleListener);
        closeFd(wake[0]);
        closeFd(wake[1]);
    }

    void run();
    void acceptAdb();
    void acceptConsole();
    void readConnection(Connection& connection);
    void writeSocket(int fd, std::string& out, bool& closed);
    void handle(Connection& connection, Adb::Message message);
    void answerConnect(Connection& connection, const Adb::Message& connect);
    void open(Connection& connection, const Adb::Message& message);
    void toProgram(Connection& connection, Stream& stream, std::string data);
    void readProgram(Connection& connection, Stream& stream, int& fd, ShellPacket::Id id);
    void writeProgram(Connection& connection, Stream& stream);
    void finish(Connection& connection, Stream& stream);
    void readConsole(ConsoleConnection& console);
    void reverse(Connection& connection, std::uint32_t remoteId, const std::string& request);
    void acceptReverse(Connection& connection, const std::string& spec);
    static void stopProgram(Stream& stream);
    static void dropConnection(Connection& connection);
};

void AdbDaemon::Loop::stopProgram(Stream& stream) {
    closeFd(stream.in);
    closeFd(stream.out);
    closeFd(stream.err);
    if (stream.pid > 0 && !stream.exitStatus) {
        // bwrap's sandbox dies with it (--die-with-parent).
        kill(stream.pid, SIGKILL);
        while (waitpid(stream.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    stream.pid = -1;
    stream.done = true;
}

void AdbDaemon::Loop::dropConnection(Connection& connection) {
    for (auto& [id, stream] : connection.streams)
        stopProgram(stream);
    for (auto& [spec, listener] : connection.reverse)
        closeFd(listener.fd);
    connection.reverse.clear();
    closeFd(connection.fd);
    connection.closed = true;
}

void AdbDaemon::Loop::acceptAdb() {
    const int fd = accept4(adbListener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    Connection& connection = connections.emplace_back();
    connection.fd = fd;
}

void AdbDaemon::Loop::acceptConsole() {
    const int fd = accept4(consoleListener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    ConsoleConnection& console = consoles.emplace_back(
        ConsoleConnection{fd, EmulatorConsole(setup.consoleAuthToken, setup.consoleAuthTokenPath), {}, {}});
    console.out = console.console.greeting();
}

void AdbDaemon::Loop::writeSocket(int fd, std::string& out, bool& closed) {
    while (!out.empty()) {
        const ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            closed = true;
            return;
        }
        out.erase(0, std::size_t(n));
    }
}

void AdbDaemon::Loop::readConnection(Connection& connection) {
    char buffer[64 * 1024];
    const ssize_t n = read(connection.fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        dropConnection(connection);
        return;
    }
    std::string_view bytes(buffer, std::size_t(n));
    while (!connection.closed) {
        const std::size_t taken = connection.reader.feed(bytes);
        bytes.remove_prefix(taken);
        if (std::optional<Adb::Message> message = connection.reader.take())
            handle(connection, std::move(*message));
        else if (connection.reader.failed())
            dropConnection(connection); // the protocol's answer to a malformed message
        else if (bytes.empty())
            break;
    }
}

void AdbDaemon::Loop::answerConnect(Connection& connection, const Adb::Message& connect) {
    // The lower version and payload maximum of both sides hold from here on.
    const std::uint32_t version = std::min(connect.arg0, Adb::versionSkipChecksum);
    connection.maxPayloadBytes = std::clamp(connect.arg1, Adb::maxPayloadV1, Adb::maxPayload);
    connection.reader.setMaxPayload(Adb::maxPayload);
    connection.reader.setChecksumChecked(version < Adb::versionSkipChecksum);
    // The old session's streams end here; the sweep erases them, since handlers of this poll
    // round may still hold them.
    for (auto& [id, stream] : connection.streams)
        stopProgram(stream);
    connection.online = true;
    send(connection, Adb::A_CNXN, Adb::versionSkipChecksum, Adb::maxPayload,
         setup.banner + "features=" + AdbDaemon::features());
}

void AdbDaemon::Loop::handle(Connection& connection, Adb::Message message) {
    if (message.command == Adb::A_CNXN) {
        if (booted)
            answerConnect(connection, message);
        else
            connection.pendingConnect = std::move(message);
        return;
    }
    // Nothing but CNXN counts before the handshake; we never ask for AUTH and offer no TLS.
    if (!connection.online) return;
    if (message.command == Adb::A_OPEN) return open(connection, message);
    const auto found = connection.streams.find(message.arg1);
    if (found == connection.streams.end() || found->second.done) return; // a stream already closed
    Stream& stream = found->second;
    switch (message.command) {
    case Adb::A_OKAY:
        stream.remoteId = message.arg0;
        stream.awaitingOkay = false;
        break;
    case Adb::A_WRTE:
        toProgram(connection, stream, std::move(message.payload));
        break;
    case Adb::A_CLSE:
        stopProgram(stream);
        break;
    default:
        break;
    }
}

void AdbDaemon::Loop::open(Connection& connection, const Adb::Message& message) {
    const AdbService service = AdbService::parse(message.payload);
    std::size_t live = 0;
    for (const auto& [id, stream] : connection.streams)
        live += stream.done ? 0 : 1;
    const bool supported = service.kind != AdbService::unknown;

    if (message.arg0 == 0 || !supported || live >= maxStreams) {
        send(connection, Adb::A_CLSE, 0, message.arg0);
        return;
    }
    if (service.kind == AdbService::reverse) return reverse(connection, message.arg0, service.command);
    Stream stream;
    stream.localId = nextLocalId++;
    if (nextLocalId == 0) nextLocalId = 1;
    stream.remoteId = message.arg0;
    stream.shellProtocol = service.shellProtocol;
    if (stream.shellProtocol) stream.packets.emplace(connection.maxPayloadBytes);
    if (service.kind == AdbService::sync)
        stream.pid = spawn(setup.syncArgv(), Stderr::discarded, stream.in, stream.out, stream.err);
    else
        stream.pid =
            spawn(setup.shellArgv(service.command), stream.shellProtocol ? Stderr::separate : Stderr::joined,
                  stream.in, stream.out, stream.err);
    if (stream.pid < 0) {
        send(connection, Adb::A_CLSE, 0, message.arg0);
        return;
    }
    send(connection, Adb::A_OKAY, stream.localId, stream.remoteId);
    connection.streams.emplace(stream.localId, std::move(stream));
}

void AdbDaemon::Loop::toProgram(Connection& connection, Stream& stream, std::string data) {
    if (!stream.packets) {
        stream.toProgram += data;
    } else {
        stream.packets->append(data);
        while (std::optional<ShellPacket::Packet> packet = stream.packets->next()) {
            if (packet->id == ShellPacket::stdinData) stream.toProgram += packet->payload;
            if (packet->id == ShellPacket::closeStdin) stream.closeInWhenDrained = true;
        }
        if (stream.packets->failed()) {
            stopProgram(stream);
            send(connection, Adb::A_CLSE, stream.localId, stream.remoteId);
            return;
        }
    }
    stream.okayOwed = true;
    writeProgram(connection, stream);
}

void AdbDaemon::Loop::writeProgram(Connection& connection, Stream& stream) {
    while (!stream.toProgram.empty() && stream.in >= 0) {
        const ssize_t n = write(stream.in, stream.toProgram.data(), stream.toProgram.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0)
            closeFd(stream.in); // the program no longer reads: what it was sent is dropped
        else
            stream.toProgram.erase(0, std::size_t(n));
    }
    stream.toProgram.clear();
    if (stream.closeInWhenDrained) closeFd(stream.in);
    if (stream.okayOwed) {
        stream.okayOwed = false;
        send(connection, Adb::A_OKAY, stream.localId, stream.remoteId);
    }
}

void AdbDaemon::Loop::readProgram(Connection& connection, Stream& stream, int& fd, ShellPacket::Id id) {
    const std::size_t header = stream.shellProtocol ? ShellPacket::headerSize : 0;
    std::string chunk(std::min(outputChunkBytes, connection.maxPayloadBytes - header), '\0');
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        closeFd(fd);
        return;
    }
    chunk.resize(std::size_t(n));
    send(connection, Adb::A_WRTE, stream.localId, stream.remoteId,
         stream.shellProtocol ? ShellPacket::encode(id, chunk) : chunk);
    stream.awaitingOkay = true;
}

// Once the program's output has ended and it has exited: the exit status (shell protocol), then CLSE.
void AdbDaemon::Loop::finish(Connection& connection, Stream& stream) {
    if (stream.done || stream.out >= 0 || stream.err >= 0 || stream.awaitingOkay) return;
    if (stream.pid < 0) stream.exitStatus = 0; // a forwarded socket, no program
    if (!stream.exitStatus) {
        int status = 0;
        const pid_t reaped = waitpid(stream.pid, &status, WNOHANG);
        if (reaped == 0) return;
        stream.exitStatus = reaped < 0 ? 1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (stream.shellProtocol)
        send(connection, Adb::A_WRTE, stream.localId, stream.remoteId,
             ShellPacket::encode(ShellPacket::exitStatus, std::string(1, char(*stream.exitStatus & 0xff))));
    send(connection, Adb::A_CLSE, stream.localId, stream.remoteId);
    closeFd(stream.in);
    stream.pid = -1;
    stream.done = true;
}

void AdbDaemon::Loop::readConsole(ConsoleConnection& console) {
    char buffer[4096];
    const ssize_t n = read(console.fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        console.closed = true;
        return;
    }
    console.in.append(buffer, std::size_t(n));
    for (std::size_t end; !console.closeWhenSent && (end = console.in.find('\n')) != std::string::npos;) {
        const EmulatorConsole::Reply reply =
            console.console.handle(std::string_view(console.in).substr(0, end));
        console.in.erase(0, end + 1);
        console.out += reply.text;
        if (reply.action != EmulatorConsole::Reply::none) console.closeWhenSent = true;
        console.killWhenSent |= reply.action == EmulatorConsole::Reply::killEmulator;
    }
    if (console.in.size() > EmulatorConsole::maxLineBytes) console.closed = true;
}

void AdbDaemon::Loop::reverse(Connection& connection, std::uint32_t remoteId, const std::string& request) {
    const ReverseRequest parsed = ReverseRequest::parse(request);
    std::string status = "OKAY";
    switch (parsed.kind) {
    case ReverseRequest::invalid:
        status = failStatus(parsed.error);
        break;
    case ReverseRequest::list: {
        std::string listing;
        for (const auto& [spec, listener] : connection.reverse)
            listing += "host-" + std::to_string(connection.fd) + " " + spec + " " + listener.remote + "\n";
        char length[8];
        std::snprintf(length, sizeof length, "%04zx", listing.size());
        status = length + listing; // the listing alone: only the host's adb server adds "OKAY"
        break;
    }
    case ReverseRequest::killAll:
        for (auto& [spec, listener] : connection.reverse)
            closeFd(listener.fd);
        connection.reverse.clear();
        break;
    case ReverseRequest::kill:
        if (const auto found = connection.reverse.find(parsed.local); found != connection.reverse.end()) {
            closeFd(found->second.fd);
            connection.reverse.erase(found);
        } else {
            status = failStatus("listener '" + parsed.local + "' not found");
        }
        break;
    case ReverseRequest::forward:
        if (const auto found = connection.reverse.find(parsed.local); found != connection.reverse.end()) {
            if (parsed.noRebind)
                status = failStatus("cannot rebind existing socket");
            else
                found->second.remote = parsed.remote;
        } else {
            std::string error;
            const int fd = listenDevice(parsed.local, error);
            if (fd < 0)
                status = failStatus("cannot bind listener: " + error);
            else
                connection.reverse.emplace(parsed.local, Connection::Listener{fd, parsed.remote});
        }
        break;
    }
    // The request's stream carries nothing but the status.
    const std::uint32_t localId = nextLocalId++;
    if (nextLocalId == 0) nextLocalId = 1;
    send(connection, Adb::A_OKAY, localId, remoteId);
    send(connection, Adb::A_WRTE, localId, remoteId, status);
    send(connection, Adb::A_CLSE, localId, remoteId);
}

// A device program connected to a reverse forward: a stream towards the host side, opened by us.
void AdbDaemon::Loop::acceptReverse(Connection& connection, const std::string& spec) {
    const auto found = connection.reverse.find(spec);
    if (found == connection.reverse.end()) return;
    const int fd = accept4(found->second.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    Stream stream;
    stream.localId = nextLocalId++;
    if (nextLocalId == 0) nextLocalId = 1;
    stream.out = fd;
    stream.in = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    stream.awaitingOkay = true; // nothing is sent before the host has connected its side
    send(connection, Adb::A_OPEN, stream.localId, 0, found->second.remote + '\0');
    connection.streams.emplace(stream.localId, std::move(stream));
}

void AdbDaemon::Loop::run() {
    // A program or forwarded socket that went away makes writes fail with EPIPE instead of
    // killing the emulator with SIGPIPE.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    while (!stopping) {
        if (booted)
            for (Connection& connection : connections)
                if (connection.pendingConnect) {
                    answerConnect(connection, *connection.pendingConnect);
                    connection.pendingConnect.reset();
                }
        // Reap finished programs, then drop closed streams, connections and consoles.
        bool programsRunning = false;
        for (Connection& connection : connections) {
            for (auto& [id, stream] : connection.streams) {
                finish(connection, stream);
                programsRunning |= !stream.done && stream.out < 0 && stream.err < 0;
            }
            std::erase_if(connection.streams, [](const auto& entry) { return entry.second.done; });
            if (!connection.closed) writeSocket(connection.fd, connection.out, connection.closed);
            if (connection.closed) dropConnection(connection);
        }
        connections.remove_if([](const Connection& c) { return c.closed; });
        for (ConsoleConnection& console : consoles) {
            if (!console.closed) writeSocket(console.fd, console.out, console.closed);
            if (console.closeWhenSent && console.out.empty()) {
                // Only once the reply is out: the emulator's shutdown ends this loop.
                if (console.killWhenSent && setup.kill) setup.kill();
                console.closed = true;
            }
            if (console.closed) closeFd(console.fd);
        }
        consoles.remove_if([](const ConsoleConnection& c) { return c.closed; });

        // Each entry's handler runs after poll; erasing waits for the sweep above.
        std::vector<pollfd> fds;
        std::vector<std::function<void()>> handlers;
        const auto watch = [&](int fd, short events, std::function<void()> handler) {
            fds.push_back({fd, events, 0});
            handlers.push_back(std::move(handler));
        };
        watch(wake[0], POLLIN, [this] {
            char drain[64];
            [[maybe_unused]] const ssize_t n = read(wake[0], drain, sizeof drain);
        });
        watch(adbListener, POLLIN, [this] { acceptAdb(); });
        watch(consoleListener, POLLIN, [this] { acceptConsole(); });
        for (Connection& connection : connections) {
            Connection* c = &connection;
            watch(c->fd, short(POLLIN | (c->out.empty() ? 0 : POLLOUT)), [this, c] {
                if (!c->closed) readConnection(*c);
            });
            for (const auto& [spec, listener] : connection.reverse)
                watch(listener.fd, POLLIN, [this, c, spec] {
                    if (!c->closed) acceptReverse(*c, spec);
                });
            for (auto& [id, stream] : connection.streams) {
                Stream* s = &stream;
                if (!s->toProgram.empty() && s->in >= 0)
                    watch(s->in, POLLOUT, [this, c, s] {
                        if (!s->done) writeProgram(*c, *s);
                    });
                for (auto [fd, packetId] : {std::pair{&s->out, ShellPacket::stdoutData},
                                            std::pair{&s->err, ShellPacket::stderrData}})
                    if (*fd >= 0 && !s->awaitingOkay)
                        watch(*fd, POLLIN, [this, c, s, fd, packetId] {
                            if (!s->done && !s->awaitingOkay && *fd >= 0) readProgram(*c, *s, *fd, packetId);
                        });
            }
        }
        for (ConsoleConnection& console : consoles) {
            ConsoleConnection* k = &console;
            watch(k->fd, short(POLLIN | (k->out.empty() ? 0 : POLLOUT)), [this, k] {
                if (!k->closed) readConsole(*k);
            });
        }
        // A program whose output has ended is polled for its exit.
        const int ready = poll(fds.data(), fds.size(), programsRunning ? 20 : -1);
        if (ready < 0 && errno != EINTR) break;
        for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i)
            if (fds[i].revents) handlers[i]();
    }
}

const char* AdbDaemon::features() {
    // cmd: adb streams installs ("exec:cmd package install -S <size>") instead of pushing first.
    return "shell_v2,cmd";
}

std::unique_ptr<AdbDaemon> AdbDaemon::start(Setup setup, std::string& error) {
    std::unique_ptr<AdbDaemon> daemon(new AdbDaemon);
    daemon->loop_ = std::make_unique<Loop>();
    Loop& loop = *daemon->loop_;
    loop.setup = std::move(setup);
    if (pipe2(loop.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot create a pipe: ") + strerror(errno);
        return nullptr;
    }
    loop.consoleListener = listenLoopback(loop.setup.consolePort, error);
    if (loop.consoleListener < 0) return nullptr;
    loop.adbListener = listenLoopback(loop.setup.consolePort + 1, error);
    if (loop.adbListener < 0) return nullptr;
    daemon->thread_ = std::thread([&loop] { loop.run(); });
    if (loop.setup.adbServerPort > 0) announce(loop.setup.adbServerPort, loop.setup.consolePort + 1);
    return daemon;
}

void AdbDaemon::bootCompleted() {
    loop_->booted = true;
    [[maybe_unused]] const ssize_t n = write(loop_->wake[1], "b", 1);
}

AdbDaemon::~AdbDaemon() {
    if (thread_.joinable()) {
        loop_->stopping = true;
        [[maybe_unused]] const ssize_t n = write(loop_->wake[1], "s", 1);
        thread_.join();
    }
}
