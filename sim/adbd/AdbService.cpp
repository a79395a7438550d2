#include "sim/adbd/AdbService.h"

AdbService AdbService::parse(std::string_view name) {
    // OPEN payloads end in a NUL that is not part of the name.
    if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
    AdbService service;
    if (name == "sync:") {
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
