#pragma once

#include <string>
#include <string_view>

// One connection to the emulator's console (the console port, telnet-style lines ending in
// "\r\n"). As Google's emulator does, it asks for the token kept in ~/.emulator_console_auth_token
// before any command but "auth", "help" and "quit"; adb's "emu" sends "auth <token>" first.
class EmulatorConsole {
public:
    EmulatorConsole(std::string authToken, std::string tokenPath)
        : token_(std::move(authToken))
        , tokenPath_(std::move(tokenPath)) {}

    struct Reply {
        std::string text;
        enum Action { none, close, killEmulator } action = none;
    };

    std::string greeting() const;
    // `line` without its line ending.
    Reply handle(std::string_view line);

    // Lines longer than this close the connection.
    static constexpr std::size_t maxLineBytes = 4096;

private:
    std::string token_;
    std::string tokenPath_;
    bool authenticated_ = false;
};

// The token file's path under `home`, and its token, created (16 random characters, mode 0600)
// when missing. Empty on failure.
std::string consoleAuthTokenPath(const std::string& home);
std::string loadOrCreateConsoleAuthToken(const std::string& home);
