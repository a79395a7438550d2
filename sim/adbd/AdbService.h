#pragma once

#include <string>
#include <string_view>

// The service a client names in OPEN, as adbd's service table reads it:
//   "shell[,opt…]:<command>"   opts: v2 (the shell protocol), raw or pty, TERM=…; an empty
//                              command is an interactive shell
//   "exec:<command>"           the command's stdout (stderr joined to it) and stdin, unframed
//   "sync:"                    the file transfer protocol
// Anything else is refused with CLSE.
struct AdbService {
    enum Kind { unknown, shell, exec, sync };
    Kind kind = unknown;
    bool shellProtocol = false; // "v2": stdout/stderr separated, exit status reported
    std::string command;

    static AdbService parse(std::string_view name);
};
