#include "sim/AdbDevice.h"
#include "sim/DeviceState.h"
#include "sim/SimLayout.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// adb's transfer summary: "<path>: 1 file pushed, 0 skipped. 3.1 MB/s (123 bytes in 0.001s)".
QString transferSummary(const QString& path, const char* verb, qint64 bytes, qint64 nanoseconds) {
    const double seconds = std::max(1e-6, double(nanoseconds) / 1e9);
    return u"%1: 1 file %2, 0 skipped. %3 MB/s (%4 bytes in %5s)\n"_s.arg(path, QLatin1StringView(verb))
        .arg(double(bytes) / seconds / 1e6, 0, 'f', 1)
        .arg(bytes)
        .arg(seconds, 0, 'f', 3);
}

// Android's sync service reports a failed open by its reason; the shell's stderr carries it.
QString reason(const QByteArray& stderrText) {
    for (const char* known : {"Read-only file system", "No such file or directory", "Permission denied",
                              "Is a directory", "Not a directory", "No space left on device"})
        if (stderrText.contains(known)) return QLatin1StringView(known);
    return QString::fromUtf8(stderrText).trimmed();
}

// Copies `local` into the device at `remote` (a folder takes the file's name), creating parents.
int pushFile(const AdbDevice& device, const QString& local, const QString& remote, QString& error) {
    const int fd = open(local.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = u"cannot stat '%1': %2"_s.arg(local, QString::fromLocal8Bit(strerror(errno)));
        return 1;
    }
    QByteArray err;
    const int status =
        device.runScript(u"d=\"$1\"; case \"$d\" in */) d=\"$d$2\";; *) [ -d \"$d\" ] && d=\"$d/$2\";; esac; "
                         u"mkdir -p \"$(dirname \"$d\")\" 2>/dev/null; cat > \"$d\""_s,
                         {remote, QFileInfo(local).fileName()}, fd, nullptr, &err);
    close(fd);
    if (status != 0)
        error =
            u"failed to copy '%1' to '%2': remote couldn't create file: %3"_s.arg(local, remote, reason(err));
    return status == 0 ? 0 : 1;
}

// The display server is a program of its own, which this adb becomes: adb's other commands then
// start without the encoder's libraries.
int startDisplayServer(const AdbDevice& device, const QStringList& tokens) {
    const QByteArray program = QFile::encodeName(SimLayout::displayServerProgram(device.sdk));
    std::vector<QByteArray> words{program};
    for (const QString& token : tokens)
        words.push_back(token.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    execv(program.constData(), argv.data());
    std::fprintf(stderr, "error: could not start the display server (%s): %s\n", program.constData(),
                 strerror(errno));
    return 1;
}

} // namespace

DeviceShell AdbDevice::shell() const {
    return DeviceShell{sdk, SimLayout::systemImageFolder(sdk, facts.api), facts.dataRoot};
}

int AdbDevice::run(const QStringList& program, int stdinFd, QByteArray* out, QByteArray* err) const {
    int outFd = -1;
    if (out) outFd = memfd_create("adb-out", MFD_CLOEXEC);
    const int status =
        shell().run(program, stdinFd < 0 ? open("/dev/null", O_RDONLY | O_CLOEXEC) : stdinFd, outFd, err);
    if (out && outFd >= 0) {
        lseek(outFd, 0, SEEK_SET);
        *out = readToEnd(outFd);
        close(outFd);
    }
    return status;
}

int AdbDevice::runScript(const QString& script, const QStringList& arguments, int stdinFd, QByteArray* out,
                         QByteArray* err) const {
    return run(QStringList{u"/bin/sh"_s, u"-c"_s, script, u"sh"_s} + arguments, stdinFd, out, err);
}

namespace AdbCommands {

int shell(const AdbDevice& device, const QStringList& arguments) {
    QStringList words = arguments;
    if (!words.isEmpty() &&
        (words.first() == u"-T"_s || words.first() == u"-t"_s || words.first() == u"-x"_s))
        words.removeFirst();
    // Like adb, several arguments become one command line for the device's shell.
    const QString command = words.join(u' ');
    if (const QStringList words = SimLayout::displayServerWords(command); !words.isEmpty())
        return startDisplayServer(device, words);
    std::fflush(stdout);
    device.shell().execShell(command.isEmpty() ? u"exec /bin/sh -i"_s : command);
    std::fprintf(stderr, "error: could not start the device shell (%s): %s\n",
                 qPrintable(DeviceShell::bwrapPath()), strerror(errno));
    return 1;
}

int install(const AdbDevice& device, const QStringList& arguments, bool multiple) {
    QStringList flags, files;
    bool streaming = true;
    for (const QString& argument : arguments) {
        if (argument == u"--no-streaming"_s)
            streaming = false;
        else if (argument == u"--streaming"_s)
            streaming = true;
        else if (argument.startsWith(u'-'))
            flags.append(argument);
        else
            files.append(argument);
    }
    if (files.isEmpty() || (!multiple && files.size() != 1)) {
        std::fputs(multiple ? "adb: need APK files on command line\n"
                            : "adb: need APK file on command line\n",
                   stderr);
        return 1;
    }
    for (const QString& file : files) {
        if (!QFileInfo::exists(file)) {
            std::fprintf(stderr, "adb: failed to stat %s: No such file or directory\n", qPrintable(file));
            return 1;
        }
        if (!file.endsWith(u".apk"_s, Qt::CaseInsensitive) &&
            !file.endsWith(u".apex"_s, Qt::CaseInsensitive)) {
            std::fprintf(stderr, "adb: filename doesn't end .apk or .apex: %s\n", qPrintable(file));
            return 1;
        }
    }
    // As adb's non-streaming install does: push into /data/local/tmp, then ask the package manager.
    const QString staging = u"/data/local/tmp/adb-install-%1"_s.arg(getpid());
    QStringList remotes;
    QString transcript = streaming ? u"Performing Streamed Install\n"_s : u"Performing Push Install\n"_s;
    for (const QString& file : files) {
        const QString remote = staging + u'/' + QFileInfo(file).fileName();
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (pushFile(device, file, remote, error) != 0) {
            print(stdout, u"adb: error: "_s + error + u'\n');
            return 1;
        }
        if (!streaming) {
            transcript += transferSummary(file, "pushed", QFileInfo(file).size(), timer.nsecsElapsed());
            transcript += u"\tpkg: "_s + remote + u'\n';
        }
        remotes.append(remote);
    }
    QByteArray out, err;
    const int status = device.run(QStringList{u"pm"_s, u"install"_s} + flags + remotes, -1, &out, &err);
    device.runScript(u"rm -rf \"$1\""_s, {staging}, -1, nullptr, nullptr);
    if (status != 0 || !out.contains("Success")) {
        // A push install relays pm's answer; a streamed one reports it as adb's own error.
        if (!streaming) {
            print(stdout, transcript + QString::fromUtf8(out));
            print(stderr, QString::fromUtf8(err));
            return 1;
        }
        print(stdout, transcript);
        const QString message = QString::fromUtf8(out + err).trimmed();
        print(stderr, u"adb: failed to install %1: %2\n"_s.arg(files.first(), message));
        return 1;
    }
    print(stdout, transcript + u"Success\n"_s);
    return 0;
}

int uninstall(const AdbDevice& device, const QStringList& arguments) {
    QByteArray out, err;
    const int status = device.run(QStringList{u"pm"_s, u"uninstall"_s} + arguments, -1, &out, &err);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fwrite(err.constData(), 1, size_t(err.size()), stderr);
    return status == 0 ? 0 : 1;
}

int push(const AdbDevice& device, const QStringList& arguments) {
    QStringList paths;
    for (const QString& argument : arguments)
        if (!argument.startsWith(u'-')) paths.append(argument);
    if (paths.size() < 2) {
        std::fputs("adb: push requires an argument\n", stderr);
        return 1;
    }
    const QString remote = paths.takeLast();
    int status = 0;
    for (const QString& local : paths) {
        QElapsedTimer timer;
        timer.start();
        const QFileInfo info(local);
        QString error;
        if (info.isDir()) {
            error = u"pushing folders is not supported: '%1'"_s.arg(local);
            status = 1;
        } else if (pushFile(device, local,
                            paths.size() > 1 && !remote.endsWith(u'/') ? remote + u'/' : remote,
                            error) == 0) {
            print(stdout, transferSummary(local, "pushed", info.size(), timer.nsecsElapsed()));
            continue;
        }
        print(stdout, u"adb: error: "_s + error + u'\n'); // adb's transfer errors go to stdout
        status = 1;
    }
    return status;
}

int pull(const AdbDevice& device, const QStringList& arguments) {
    QStringList paths;
    for (const QString& argument : arguments)
        if (!argument.startsWith(u'-')) paths.append(argument);
    if (paths.isEmpty() || paths.size() > 2) {
        std::fputs("adb: pull requires an argument\n", stderr);
        return 1;
    }
    const QString remote = paths[0];
    QString local = paths.value(1, QFileInfo(remote).fileName());
    if (QFileInfo(local).isDir()) local += u'/' + QFileInfo(remote).fileName();
    // Written next to the target and renamed, so a failed pull leaves what was there.
    const QString partial = local + u".adb-partial"_s;
    const int fd = open(partial.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "adb: error: cannot create '%s': %s\n", qPrintable(local), strerror(errno));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    QByteArray err;
    const int outFd = dup(fd);
    const int status = device.shell().run(
        {u"/bin/sh"_s, u"-c"_s, u"[ -d \"$1\" ] && exit 21; exec cat -- \"$1\""_s, u"sh"_s, remote},
        open("/dev/null", O_RDONLY | O_CLOEXEC), outFd, &err);
    close(outFd);
    const qint64 size = lseek(fd, 0, SEEK_END);
    close(fd);
    if (status != 0) {
        unlink(partial.toLocal8Bit().constData());
        if (status != 21 && reason(err) == u"No such file or directory"_s)
            print(stdout, u"adb: error: remote object '%1' does not exist\n"_s.arg(remote));
        else
            print(stdout, u"adb: error: failed to stat remote object '%1': %2\n"_s.arg(
                              remote, status == 21 ? u"pulling folders is not supported"_s : reason(err)));
        return 1;
    }
    if (rename(partial.toLocal8Bit().constData(), local.toLocal8Bit().constData()) != 0) {
        std::fprintf(stderr, "adb: error: cannot create '%s': %s\n", qPrintable(local), strerror(errno));
        return 1;
    }
    print(stdout, transferSummary(remote, "pulled", size, timer.nsecsElapsed()));
    return 0;
}

int reverse(const AdbDevice& device, const QStringList& arguments) {
    DeviceState state(device.facts.dataRoot);
    static const QRegularExpression local(
        u"^(localabstract:.+|tcp:\\d+|localreserved:.+|localfilesystem:.+)$"_s);
    static const QRegularExpression remote(u"^tcp:(\\d+)$"_s);
    if (arguments.value(0) == u"--list"_s) {
        for (auto [spec, target] :
             state.read().value(u"reverse"_s).toObject().toVariantMap().asKeyValueRange())
            std::printf("UsbFfs %s %s\n", qPrintable(spec), qPrintable(target.toString()));
        return 0;
    }
    if (arguments.value(0) == u"--remove-all"_s) {
        state.update([](QJsonObject& s) {
            s.insert(u"reverse"_s, QJsonObject{});
            return true;
        });
        return 0;
    }
    if (arguments.value(0) == u"--remove"_s) {
        const QString spec = arguments.value(1);
        bool removed = false;
        state.update([&](QJsonObject& s) {
            QJsonObject tunnels = s.value(u"reverse"_s).toObject();
            removed = tunnels.contains(spec);
            tunnels.remove(spec);
            s.insert(u"reverse"_s, tunnels);
            return removed;
        });
        if (!removed) {
            std::fprintf(stderr, "adb: error: listener '%s' not found\n", qPrintable(spec));
            return 1;
        }
        return 0;
    }
    const bool noRebind = arguments.value(0) == u"--no-rebind"_s;
    const QStringList specs = noRebind ? arguments.mid(1) : arguments;
    const QRegularExpressionMatch target = remote.match(specs.value(1));
    const int port = target.captured(1).toInt();
    if (specs.size() != 2 || !local.match(specs[0]).hasMatch() || !target.hasMatch() || port <= 0 ||
        port > 65535) {
        std::fputs("adb: error: cannot bind listener: malformed reverse spec\n", stderr);
        return 1;
    }
    bool exists = false;
    state.update([&](QJsonObject& s) {
        QJsonObject tunnels = s.value(u"reverse"_s).toObject();
        exists = tunnels.contains(specs[0]);
        if (exists && noRebind) return false;
        tunnels.insert(specs[0], specs[1]);
        s.insert(u"reverse"_s, tunnels);
        return true;
    });
    if (exists && noRebind) {
        std::fputs("adb: error: cannot rebind existing socket\n", stderr);
        return 1;
    }
    return 0;
}

int emu(const AdbDevice& device, const QStringList& arguments) {
    if (arguments.value(0) == u"kill"_s) {
        std::printf("OK: killing emulator, bye bye\r\n"); // the console's line ending, relayed
        kill(pid_t(device.facts.pid), SIGTERM);
        return 0;
    }
    std::printf("KO: unknown command, try 'help'\n");
    return 1;
}

} // namespace AdbCommands
