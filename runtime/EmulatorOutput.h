#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What Google's emulator printed before it quit. Its lines look like
//   "ERROR   | x86_64 emulation currently requires hardware acceleration!"   (level | message)
//   "emulator: ERROR: x86 emulation currently requires hardware acceleration!" (older releases)
// followed by untagged detail lines ("CPU acceleration status: …", links).
namespace EmulatorOutput {

// The message of the last ERROR, FATAL or PANIC line; else the last untagged non-empty line (a
// crash message of the program itself); else nothing.
std::optional<QString> lastErrorLine(const QByteArray& output);
// The same for the end (at most the last 64 KiB) of a file.
std::optional<QString> lastErrorLineOfFile(const QString& path);

} // namespace EmulatorOutput
