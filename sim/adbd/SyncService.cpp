#include "sim/adbd/SyncService.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace SyncService {
namespace {

constexpr std::uint32_t id(const char (&name)[5]) {
    return std::uint32_t(std::uint8_t(name[0])) | std::uint32_t(std::uint8_t(name[1])) << 8 |
           std::uint32_t(std::uint8_t(name[2])) << 16 | std::uint32_t(std::uint8_t(name[3])) << 24;
}

void appendWord(std::string& out, std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((word >> shift) & 0xff));
}

std::uint32_t word(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
}

bool readExactly(int fd, char* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, buffer, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer += n;
        size -= std::size_t(n);
    }
    return true;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

bool sendHeader(int out, std::uint32_t request, std::uint32_t length) {
    std::string bytes;
    appendWord(bytes, request);
    appendWord(bytes, length);
    return writeAll(out, bytes);
}

bool sendFail(int out, const std::string& reason) {
    return sendHeader(out, id("FAIL"), std::uint32_t(reason.size())) && writeAll(out, reason);
}

struct Header {
    std::uint32_t id = 0;
    std::uint32_t length = 0;
};

bool readHeader(int in, Header& header) {
    char bytes[8];
    if (!readExactly(in, bytes, sizeof bytes)) return false;
    header = {word(bytes), word(bytes + 4)};
    return true;
}

bool stat(int out, const std::string& path) {
    struct stat info {};
    std::string bytes;
    appendWord(bytes, id("STAT"));
    if (lstat(path.c_str(), &info) != 0) info = {};
    appendWord(bytes, std::uint32_t(info.st_mode));
    appendWord(bytes, std::uint32_t(info.st_size));
    appendWord(bytes, std::uint32_t(info.st_mtime));
    return writeAll(out, bytes);
}

bool list(int out, const std::string& path) {
    if (DIR* folder = opendir(path.c_str())) {
        while (const dirent* entry = readdir(folder)) {
            struct stat info {};
            const std::string name = entry->d_name;
            if (lstat((path + "/" + name).c_str(), &info) != 0) continue;
            std::string bytes;
            appendWord(bytes, id("DENT"));
            appendWord(bytes, std::uint32_t(info.st_mode));
            appendWord(bytes, std::uint32_t(info.st_size));
            appendWord(bytes, std::uint32_t(info.st_mtime));
            appendWord(bytes, std::uint32_t(name.size()));
            if (!writeAll(out, bytes + name)) {
                closedir(folder);
                return false;
            }
        }
        closedir(folder);
    }
    std::string done;
    appendWord(done, id("DONE"));
    for (int i = 0; i < 4; ++i)
        appendWord(done, 0);
    return writeAll(out, done);
}

// Creates the folders above `path`, as adbd does for a push into a new folder.
void makeParents(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0770);
}

// Reads the DATA chunks up to DONE into `fd` (or nowhere once fd < 0). False when the stream broke
// or sent something it must not; `error` then holds FAIL's text, if one is due.
bool receiveChunks(int in, int fd, std::string& writeError, std::uint32_t& mtime,
                   std::string& protocolError) {
    std::string chunk;
    for (;;) {
        Header header;
        if (!readHeader(in, header)) return false;
        if (header.id == id("DONE")) {
            mtime = header.length;
            return true;
        }
        if (header.id != id("DATA")) {
            protocolError = "invalid data message";
            return false;
        }
        if (header.length > maxDataBytes) {
            protocolError = "data chunk of " + std::to_string(header.length) + " bytes exceeds " +
                            std::to_string(maxDataBytes);
            return false;
        }
        chunk.resize(header.length);
        if (!readExactly(in, chunk.data(), chunk.size())) return false;
        if (fd >= 0 && writeError.empty() && !writeAll(fd, chunk)) writeError = std::strerror(errno);
    }
}

// False ends the service.
bool send(int in, int out, const std::string& spec) {
    const std::size_t comma = spec.rfind(',');
    const std::string path = spec.substr(0, comma);
    const mode_t mode = comma == std::string::npos
                            ? 0644
                            : mode_t(std::strtoul(spec.c_str() + comma + 1, nullptr, 10) & 0777);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 && errno == ENOENT) {
        makeParents(path);
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    }
    std::string writeError =
        fd < 0 ? std::string("couldn't create file: ") + std::strerror(errno) : std::string();
    std::uint32_t mtime = 0;
    std::string protocolError;
    const bool complete = receiveChunks(in, fd, writeError, mtime, protocolError);
    if (fd >= 0) close(fd);
    if (!complete || !writeError.empty()) {
        if (fd >= 0) unlink(path.c_str()); // a partial file is not left behind
        if (!protocolError.empty())
            sendFail(out, protocolError);
        else if (complete)
            sendFail(out, writeError);
        return false;
    }
    const utimbuf times{time_t(mtime), time_t(mtime)};
    utime(path.c_str(), &times);
    return sendHeader(out, id("OKAY"), 0);
}

bool receive(int out, const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return sendFail(out, std::strerror(errno));
    std::string chunk(maxDataBytes, '\0');
    for (;;) {
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const std::string reason = std::strerror(errno);
            close(fd);
            return sendFail(out, reason);
        }
        if (n == 0) break;
        if (!sendHeader(out, id("DATA"), std::uint32_t(n)) ||
            !writeAll(out, std::string_view(chunk.data(), std::size_t(n)))) {
            close(fd);
            return false;
        }
    }
    close(fd);
    return sendHeader(out, id("DONE"), 0);
}

} // namespace

int serve(int in, int out) {
    for (;;) {
        Header header;
        if (!readHeader(in, header)) return 0;
        if (header.id == id("QUIT")) return 0;
        const bool takesPath = header.id == id("STAT") || header.id == id("LIST") ||
                               header.id == id("SEND") || header.id == id("RECV");
        if (!takesPath) {
            sendFail(out, "unknown command");
            return 1;
        }
        if (header.length > maxPathBytes) {
            sendFail(out, "path too long");
            return 1;
        }
        std::string path(header.length, '\0');
        if (!readExactly(in, path.data(), path.size())) return 1;
        bool ok = true;
        if (header.id == id("STAT"))
            ok = stat(out, path);
        else if (header.id == id("LIST"))
            ok = list(out, path);
        else if (header.id == id("SEND"))
            ok = send(in, out, path);
        else
            ok = receive(out, path);
        if (!ok) return 1;
    }
}

} // namespace SyncService
