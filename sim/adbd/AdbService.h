#pragma once

#include <string>
#include <string_view>

// The service a client names in OPEN, as adbd's service table reads it:
//   "shell[,opt…]:<command>"   opts: v2 (the shell protocol), raw or pty, TERM=…; an empty
//                              command is an interactive shell
//   "exec:<command>"           the command's stdout (stderr joined to it) and stdin, unframed
//   "sync:"                    the file transfer protocol
//   "reverse:<request>"        reverse forwarding: forward:[norebind:]<local>;<remote>,
//                              killforward:<local>, killforward-all, list-forward
// Anything else is refused with CLSE.
struct AdbService {
    enum Kind { unknown, shell, exec, sync, reverse };
    Kind kind = unknown;
    bool shellProtocol = false; // "v2": stdout/stderr separated, exit status reported
    std::string command;        // shell, exec: the command line; reverse: the request

    static AdbService parse(std::string_view name);
};

// One reverse-forwarding request, as adbd reads "reverse:<request>". Device-side sockets are
// "tcp:<port>" (1..65535) or "localabstract:<name>"; the host side is the adb server's to check.
struct ReverseRequest {
    enum Kind { invalid, forward, kill, killAll, list };
    Kind kind = invalid;
    bool noRebind = false;
    std::string local;
    std::string remote;
    std::string error; // for invalid: adbd's FAIL text

    static ReverseRequest parse(std::string_view request);
};
