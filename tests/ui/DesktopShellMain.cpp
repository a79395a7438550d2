// main() of the desktop shell tests: global keys and tray items are real X11 grabs and windows on
// an X server of the program's own.
#include "support/PrivateXServer.h"
#include "support/TestRunner.h"

#include <cstdio>

int main(int argc, char** argv) {
    const PrivateXServer display;
    if (!display.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    return runVantleTests(argc, argv);
}
