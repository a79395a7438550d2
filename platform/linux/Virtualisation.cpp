#include "platform/Virtualisation.h"

#include "platform/CurrentUser.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace Virtualisation {

namespace {
// The login name for the usermod command; the placeholder when the system cannot tell it.
QString userName() {
    if (const std::optional<QString> name = CurrentUser::loginName()) return *name;
    const QString fromEnvironment = qEnvironmentVariable("USER");
    return fromEnvironment.isEmpty() ? u"<user>"_s : fromEnvironment;
}
} // namespace

QString devicePath() {
    const QString injected = qEnvironmentVariable("VANTLE_KVM_DEVICE");
    return injected.isEmpty() ? u"/dev/kvm"_s : injected;
}

Status check(const QString& device) {
    // Opened as the emulator opens it. access() would not do: it ignores a file system mounted
    // without device access (a container's /dev), where even root is refused.
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return Status::usable;
    }
    // Anything but a refusal (no such file, no driver behind the node) means KVM is not there.
    return errno == EACCES || errno == EPERM ? Status::notPermitted : Status::missing;
}

QString problem(Status status) {
    switch (status) {
    case Status::usable:
        return {};
    case Status::missing:
        return u"Android needs hardware virtualisation. /dev/kvm is missing: turn on virtualisation "
               u"(VT-x/AMD-V) "
               u"in the firmware settings, or enable nested virtualisation for this VM."_s;
    case Status::notPermitted:
        return u"Your user cannot use /dev/kvm: add it to the kvm group (sudo usermod -aG kvm %1) and log in again."_s
            .arg(userName());
    }
    return {};
}

std::optional<QString> hostProblem() {
    const QString text = problem(check(devicePath()));
    if (text.isEmpty()) return std::nullopt;
    return text;
}

} // namespace Virtualisation
