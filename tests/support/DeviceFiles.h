#pragma once

// Stand-ins for /dev/kvm, for Vantle's check (VANTLE_KVM_DEVICE) and the simulated emulator's own
// probe (VANTLE_SIM_KVM_DEVICE).
#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// Sets an environment variable for its lifetime, then puts back what was there.
struct ScopedEnvironment {
    const char* name;
    std::optional<QByteArray> saved =
        qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    ScopedEnvironment(const char* variable, const QString& value)
        : name(variable) {
        qputenv(name, value.toUtf8());
    }
    ~ScopedEnvironment() { saved ? (void)qputenv(name, *saved) : (void)qunsetenv(name); }
};

// A device node that refuses even root (tests run as root, who opens any file whatever its mode):
// one on a file system mounted without device access (nodev), as /dev is in some containers.
// `path` is empty where the test may not mount; the caller leaves that case out.
struct RefusedDevice {
    QTemporaryDir folder;
    QByteArray mountPoint = QFile::encodeName(folder.path());
    bool mounted = ::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_NODEV, "size=1m") == 0;
    // The null device's numbers: were the node opened, nothing could happen.
    QString path = mounted && ::mknod((mountPoint + "/kvm").constData(), S_IFCHR | 0666, makedev(1, 3)) == 0
                       ? folder.filePath(QStringLiteral("kvm"))
                       : QString();
    ~RefusedDevice() {
        if (mounted) ::umount2(mountPoint.constData(), MNT_DETACH);
    }
};

// A device path where there is nothing.
struct MissingDevice {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("kvm"));
};
