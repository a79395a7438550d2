#include "PrivateNetwork.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool writeFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    return written;
}

} // namespace

std::string enterPrivateNetwork() {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    const int flags = uid == 0 ? CLONE_NEWNET : CLONE_NEWUSER | CLONE_NEWNET;
    if (unshare(flags) != 0) return std::string("unshare: ") + strerror(errno);
    if (uid != 0 && !(writeFile("/proc/self/setgroups", "deny") &&
                      writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                      writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")))
        return std::string("user namespace mapping: ") + strerror(errno);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    const std::string error = up ? std::string() : std::string("bringing up loopback: ") + strerror(errno);
    if (fd >= 0) close(fd);
    return error;
}
