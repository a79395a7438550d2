#include "platform/CurrentUser.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace CurrentUser {

std::optional<QString> loginName() {
    // getpwuid_r, not getpwuid, whose result is shared by all threads.
    const long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? size_t(bufferSize) : 16384);
    passwd record{};
    passwd* entry = nullptr;
    if (::getpwuid_r(::getuid(), &record, buffer.data(), buffer.size(), &entry) != 0 || !entry ||
        !entry->pw_name || !*entry->pw_name)
        return std::nullopt;
    return QString::fromLocal8Bit(entry->pw_name);
}

} // namespace CurrentUser
