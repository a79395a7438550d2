#pragma once

#include <QString>
#include <QStringList>

// What Google's SDK calls this computer: the host names used in the repository lists and the ABI of
// the system image and virtual device to run. One description serves an Apple-silicon Mac
// ("macosx", arm64, arm64-v8a) and an x86_64 Linux machine ("linux", x64, x86_64).
struct HostDescription {
    QString repositoryOS;           // host-os in the repository lists
    QStringList repositoryArchs;    // acceptable host-arch values, preferred first
    QString systemImageABI;         // folder of the system image and abi.type of the AVD
    QString avdCpuArch;             // hw.cpu.arch of the AVD

    static const HostDescription& current();
};
