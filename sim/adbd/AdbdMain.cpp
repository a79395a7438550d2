// The device side of the simulated emulator's adbd: services that must run inside the device's
// sandbox, on the stream's bytes as stdin and stdout. `adbd sync` is the file service.
#include "sim/adbd/SyncService.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "sync") == 0)
        return SyncService::serve(STDIN_FILENO, STDOUT_FILENO);
    std::fputs("usage: adbd sync\n", stderr);
    return 2;
}
