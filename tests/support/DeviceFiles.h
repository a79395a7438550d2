#pragma once

// Stand-ins for /dev/kvm, for the virtualisation check (VANTLE_KVM_DEVICE) and the simulated
// emulator's own probe (VANTLE_SIM_KVM_DEVICE).
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Sets an environment variable for its lifetime, then puts back what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QString& value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_saved(qgetenv(name)) {
        qputenv(name, value.toUtf8());
    }
    ~ScopedEnvironment() {
        if (m_had)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_saved;
};

// A device file the current user cannot open for reading and writing. Tests run as root, who
// opens any file whatever its mode; what refuses even root is a device node on a file system
// mounted without device access (nodev), as /dev is in some containers. Where mounting is not
// allowed, a file without any permission refuses an ordinary user. `path` is empty when neither
// refuses (root without the right to mount): the caller skips.
class RefusedDevice {
public:
    RefusedDevice() {
        const QByteArray mountPoint = QFile::encodeName(m_folder.path());
        const QByteArray node = mountPoint + "/kvm";
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_NODEV, "size=1m") == 0) {
            m_mounted = true;
            // The null device's numbers: were the node opened, nothing could happen.
            if (::mknod(node.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0) return;
        } else {
            QFile file(QString::fromLocal8Bit(node));
            if (!file.open(QIODevice::WriteOnly)) return;
            file.close();
            ::chmod(node.constData(), 0);
        }
        const int fd = ::open(node.constData(), O_RDWR);
        if (fd >= 0) {
            ::close(fd);
            return;
        }
        path = QString::fromLocal8Bit(node);
    }
    ~RefusedDevice() {
        if (m_mounted) ::umount2(QFile::encodeName(m_folder.path()).constData(), MNT_DETACH);
    }
    RefusedDevice(const RefusedDevice&) = delete;
    RefusedDevice& operator=(const RefusedDevice&) = delete;

    QString path;

private:
    QTemporaryDir m_folder;
    bool m_mounted = false;
};

// A device path where there is nothing.
struct MissingDevice {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("kvm"));
};
