#pragma once

#include <string>

// Moves the calling process, which must still be single-threaded, into a network namespace of its
// own with only loopback, up. Everything it starts afterwards (the emulator, Google's adb server)
// shares that namespace, so fixed ports such as the console's 5556 and the adb server's 5037
// cannot collide with other programs on the machine. Without root a user namespace maps the
// caller to root first. Returns an error text, empty on success.
std::string enterPrivateNetwork();
