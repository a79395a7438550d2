// One libFuzzer target; FUZZ_ENTRY names the function of FuzzEntries it drives.
#include "fuzz/FuzzEntries.h"

#include <QGuiApplication>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Drawing and image decoding want a GUI application; the offscreen platform needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Whatever the code logs goes to a throwaway folder, never the user's.
    setenv("VANTLE_HOME", "/tmp/vantle-fuzz-home", 0);
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEntries::FUZZ_ENTRY(data, size);
    return 0;
}
