#include "sim/adbd/AdbService.h"

#include <charconv>

namespace {

bool validDeviceSocket(std::string_view spec) {
    if (spec.starts_with("localabstract:")) return spec.size() > 14 && spec.size() <= 14 + 107;
    if (!spec.starts_with("tcp:")) return false;
    int port = 0;
    const std::string_view digits = spec.substr(4);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return error == std::errc() && end == digits.data() + digits.size() && port > 0 && port <= 65535;
}

} // namespace

AdbService AdbService::parse(std::string_view name) {
    // OPEN payloads end in a NUL that is not part of the name.
    if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
    AdbService service;
    if (name.starts_with("reverse:")) {
        service.kind = reverse;
        service.command = name.substr(8);
    } else if (name == "sync:") {
        service.kind = sync;
    } else if (name.starts_with("exec:")) {
        service.kind = exec;
        service.command = name.substr(5);
    } else if (name.starts_with("shell:") || name.starts_with("shell,")) {
        const std::size_t colon = name.find(':');
        if (colon == std::string_view::npos) return {};
        std::string_view options = name.substr(5, colon - 5);
        while (!options.empty()) {
            options.remove_prefix(1); // the ',' before each option
            const std::string_view option = options.substr(0, options.find(','));
            if (option == "v2")
                service.shellProtocol = true;
            else if (option != "raw" && option != "pty" && !option.starts_with("TERM="))
                return {};
            options.remove_prefix(option.size());
        }
        service.kind = shell;
        service.command = name.substr(colon + 1);
    }
    return service;
}

ReverseRequest ReverseRequest::parse(std::string_view request) {
    ReverseRequest parsed;
    if (request == "list-forward") {
        parsed.kind = list;
    } else if (request == "killforward-all") {
        parsed.kind = killAll;
    } else if (request.starts_with("killforward:")) {
        parsed.kind = kill;
        parsed.local = request.substr(12);
    } else if (request.starts_with("forward:")) {
        request.remove_prefix(8);
        if (request.starts_with("norebind:")) {
            parsed.noRebind = true;
            request.remove_prefix(9);
        }
        const std::size_t semicolon = request.find(';');
        if (semicolon == std::string_view::npos) {
            parsed.error = "malformed forward spec";
            return parsed;
        }
        parsed.local = request.substr(0, semicolon);
        parsed.remote = request.substr(semicolon + 1);
        if (!validDeviceSocket(parsed.local)) {
            parsed.error = "cannot bind listener: unsupported socket spec '" + parsed.local + "'";
            return parsed;
        }
        if (parsed.remote.empty()) {
            parsed.error = "malformed forward spec";
            return parsed;
        }
        parsed.kind = forward;
    } else {
        parsed.error = "unknown reverse request";
    }
    return parsed;
}
