#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The emulator's adbd and console. Listens on 127.0.0.1 at the console port and the adb port
// (console port + 1), announces the device to the adb server ("host:emulator:<adb port>", as
// Google's emulator does), and serves both from one thread of its own, joined by the destructor,
// which also kills the device programs still running for a stream.
//
// A connection to the adb port gets its CNXN answer only once the device has booted (bootCompleted),
// so the adb server lists the emulator "offline" until then, as with a guest whose adbd is not up.
class AdbDaemon {
public:
    struct Setup {
        int consolePort = 5556;
        int adbServerPort = 5037; // where to announce the device; 0: do not announce
        std::string banner;       // "device::ro.product.name=…;ro.product.model=…;ro.product.device=…;"
        // The argv that runs `command` in the device's shell (an empty command: an interactive one).
        std::function<std::vector<std::string>(const std::string& command)> shellArgv;
        // The argv of the device-side file service (`adbd sync`, inside the device).
        std::function<std::vector<std::string>()> syncArgv;
        std::string consoleAuthToken;
        std::string consoleAuthTokenPath;
        std::function<void()> kill; // the console's "kill"; called on the daemon's thread
    };

    // The features our CNXN announces: only what this adbd implements.
    static const char* features();

    // Binds both ports; nullptr with `error` set when either is taken.
    static std::unique_ptr<AdbDaemon> start(Setup setup, std::string& error);
    ~AdbDaemon();
    AdbDaemon(const AdbDaemon&) = delete;
    AdbDaemon& operator=(const AdbDaemon&) = delete;

    // Any thread.
    void bootCompleted();

    struct Loop;

private:
    AdbDaemon() = default;
    std::unique_ptr<Loop> loop_;
    std::thread thread_;
};
