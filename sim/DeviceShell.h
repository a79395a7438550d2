#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The device's shell: Debian's POSIX shell (dash) with Android's commands on its PATH, run inside
// a bubblewrap sandbox whose mount namespace is the device. Only the device's own folder is
// writable; device paths resolve through real bind mounts, never through string rewriting:
//
//   /data                   <- the device's data folder (read-write)
//   /storage/emulated/0     <- data/media/0 (read-write); /sdcard -> /storage/self/primary -> it
//   /system/bin             <- the simulator's Android commands (read-only)
//   /system/build.prop      <- the system image's properties (read-only)
//   /usr, /etc/ld.so.cache, /etc/alternatives  <- the host's programs (read-only)
//   /proc, /dev, /tmp       <- private to the sandbox
//
// The environment is Android's, plus the sanitizer runtime's options when the caller has them (a
// sanitizer build's test run), with the files those options name mounted at their own paths.
// As root on the host the shell keeps only the capabilities a root shell on Android uses on files
// (chown, fowner, fsetid, dac override, kill); as any other user it runs in a user namespace as uid 0.
struct DeviceShell {
    QString sdk;         // for /system/bin
    QString systemImage; // the system image folder, for build.prop
    QString dataRoot;    // the device's /data on the host

    // bwrap and its options, ending just before the program to run inside.
    QStringList sandbox() const;
    // Replaces the calling process with `sh -c command` inside the device; returns only on failure.
    int execShell(const QString& command) const;
    // Runs `program` inside the device with stdin/stdout bound to the given descriptors (-1 keeps the
    // caller's) and stderr captured; returns the exit status (-1 when it could not start).
    int run(const QStringList& program, int stdinFd, int stdoutFd, QByteArray* errorOutput) const;

    static QString bwrapPath();
};
