#include "sim/adbd/EmulatorConsole.h"

#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

std::string EmulatorConsole::greeting() const {
    return "Android Console: Authentication required\r\n"
           "Android Console: type 'auth <auth_token>' to authenticate\r\n"
           "Android Console: you can find your <auth_token> in \r\n'" +
           tokenPath_ + "'\r\nOK\r\n";
}

EmulatorConsole::Reply EmulatorConsole::handle(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    const std::string_view word = line.substr(0, line.find(' '));
    if (word == "quit" || word == "exit") return {"", Reply::close};
    if (word == "auth") {
        const std::string_view given = line.size() > 5 ? line.substr(5) : std::string_view();
        if (token_.empty() || given != token_)
            return {"KO: authentication token does not match ~/.emulator_console_auth_token\r\n"};
        authenticated_ = true;
        return {"Android Console: type 'help' for a list of commands\r\nOK\r\n"};
    }
    if (word == "help")
        return {"Android console commands:\r\n\r\n    help|h|?         print a list of commands\r\n"
                "    kill             kill the emulator instance\r\n"
                "    quit|exit        quit control session\r\n\r\nOK\r\n"};
    if (!authenticated_ || word != "kill") return {"KO: unknown command, try 'help'\r\n"};
    return {"OK: killing emulator, bye bye\r\n", Reply::killEmulator};
}

std::string consoleAuthTokenPath(const std::string& home) {
    return home + "/.emulator_console_auth_token";
}

std::string loadOrCreateConsoleAuthToken(const std::string& home) {
    const std::string path = consoleAuthTokenPath(home);
    char buffer[128];
    if (const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        close(fd);
        std::string token(buffer, std::size_t(std::max<ssize_t>(n, 0)));
        while (!token.empty() && (token.back() == '\n' || token.back() == '\r'))
            token.pop_back();
        return token;
    }
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::random_device random;
    std::string token;
    for (int i = 0; i < 16; ++i)
        token.push_back(alphabet[random() % 64]);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    const bool written = write(fd, token.data(), token.size()) == ssize_t(token.size());
    close(fd);
    return written ? token : std::string();
}
