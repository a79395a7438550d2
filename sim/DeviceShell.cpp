#include "sim/DeviceShell.h"

#include "sim/SimLayout.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

std::vector<QByteArray> toLocal(const QStringList& list) {
    std::vector<QByteArray> bytes;
    bytes.reserve(size_t(list.size()));
    for (const QString& item : list)
        bytes.push_back(item.toLocal8Bit());
    return bytes;
}

std::vector<char*> argvOf(std::vector<QByteArray>& bytes) {
    std::vector<char*> argv;
    for (QByteArray& item : bytes)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    return argv;
}

// In a sanitizer build the device's programs are Vantle's own code, instrumented like the rest, and
// report like every other process of the run: the runtime's options pass into the sandbox, and the
// files they name by absolute path (suppressions, the log_path prefix of the reports) are mounted at
// the same paths, the reports' folder writable. Nothing is added when the variables are unset.
struct SanitizerPassThrough {
    QStringList mounts, environment;
};

SanitizerPassThrough sanitizerPassThrough() {
    SanitizerPassThrough pass;
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        const QString options = qEnvironmentVariable(name);
        if (options.isEmpty()) continue;
        pass.environment << u"--setenv"_s << QLatin1StringView(name) << options;
        for (const QString& option : options.split(u':')) {
            const QString key = option.section(u'=', 0, 0), value = option.section(u'=', 1);
            if (!value.startsWith(u'/')) continue;
            const QString folder = QFileInfo(value).absolutePath();
            if (pass.mounts.contains(folder)) continue;
            pass.mounts << (key == u"log_path"_s ? u"--bind"_s : u"--ro-bind"_s) << folder << folder;
        }
    }
    return pass;
}

} // namespace

QString DeviceShell::bwrapPath() {
    return u"/usr/bin/bwrap"_s;
}

QStringList DeviceShell::sandbox() const {
    QStringList args{bwrapPath(),        u"--die-with-parent"_s, u"--new-session"_s, u"--unshare-pid"_s,
                     u"--unshare-ipc"_s, u"--unshare-uts"_s,     u"--hostname"_s,    u"localhost"_s};
    if (geteuid() == 0) {
        args << u"--cap-drop"_s << u"ALL"_s;
        for (const char* cap :
             {"CAP_CHOWN", "CAP_FOWNER", "CAP_FSETID", "CAP_DAC_OVERRIDE", "CAP_DAC_READ_SEARCH", "CAP_KILL"})
            args << u"--cap-add"_s << QLatin1StringView(cap);
    } else {
        args << u"--unshare-user"_s << u"--uid"_s << u"0"_s << u"--gid"_s << u"0"_s;
    }
    args << u"--ro-bind"_s << u"/usr"_s << u"/usr"_s;
    for (const char* link : {"bin", "sbin", "lib", "lib64"})
        if (QFileInfo(u"/"_s + QLatin1StringView(link)).isSymLink())
            args << u"--symlink"_s << u"usr/"_s + QLatin1StringView(link) << u"/"_s + QLatin1StringView(link);
    for (const char* file : {"/etc/ld.so.cache", "/etc/alternatives", "/etc/localtime"})
        if (QFileInfo::exists(QLatin1StringView(file)))
            args << u"--ro-bind"_s << QLatin1StringView(file) << QLatin1StringView(file);
    args << u"--proc"_s << u"/proc"_s << u"--dev"_s << u"/dev"_s << u"--tmpfs"_s << u"/tmp"_s;
    args << u"--ro-bind"_s << SimLayout::simFolder(sdk) + u"/system-bin"_s << u"/system/bin"_s;
    if (QFileInfo::exists(systemImage + u"/build.prop"_s))
        args << u"--ro-bind"_s << systemImage + u"/build.prop"_s << u"/system/build.prop"_s;
    args << u"--bind"_s << dataRoot << u"/data"_s;
    args << u"--bind"_s << dataRoot + u"/media/0"_s << u"/storage/emulated/0"_s;
    args << u"--symlink"_s << u"/storage/emulated/0"_s << u"/storage/self/primary"_s;
    args << u"--symlink"_s << u"/storage/self/primary"_s << u"/sdcard"_s;
    const SanitizerPassThrough sanitizers = sanitizerPassThrough();
    args << sanitizers.mounts;
    // Everything outside the mounts above is an empty, read-only root, as Android's / is.
    args << u"--remount-ro"_s << u"/"_s << u"--clearenv"_s << sanitizers.environment;
    const QList<std::pair<const char*, const char*>> environment{{"PATH", "/system/bin:/usr/bin:/bin"},
                                                                 {"HOME", "/"},
                                                                 {"ANDROID_DATA", "/data"},
                                                                 {"ANDROID_ROOT", "/system"},
                                                                 {"EXTERNAL_STORAGE", "/sdcard"},
                                                                 {"TMPDIR", "/data/local/tmp"},
                                                                 {"LANG", "C.UTF-8"},
                                                                 {"USER", "root"}};
    for (const auto& [name, value] : environment)
        args << u"--setenv"_s << QLatin1StringView(name) << QLatin1StringView(value);
    args << u"--chdir"_s << u"/"_s;
    return args;
}

int DeviceShell::execShell(const QString& command) const {
    std::vector<QByteArray> bytes = toLocal(sandbox() << u"/bin/sh"_s << u"-c"_s << command);
    std::vector<char*> argv = argvOf(bytes);
    execv(argv[0], argv.data());
    return -1;
}

int DeviceShell::run(const QStringList& program, int stdinFd, int stdoutFd, QByteArray* errorOutput) const {
    std::vector<QByteArray> bytes = toLocal(sandbox() + program);
    std::vector<char*> argv = argvOf(bytes);
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) return -1;
    const pid_t child = fork();
    if (child < 0) {
        close(errorPipe[0]);
        close(errorPipe[1]);
        return -1;
    }
    if (child == 0) {
        if (stdinFd >= 0) dup2(stdinFd, 0);
        if (stdoutFd >= 0) dup2(stdoutFd, 1);
        dup2(errorPipe[1], 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(errorPipe[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(errorPipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (errorOutput) errorOutput->append(buffer, n);
    }
    close(errorPipe[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
