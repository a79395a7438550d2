// libFuzzer target: the device-message reader of the control socket.
#include "fuzz/StreamFuzzSupport.h"
#include "stream/DeviceMessageReader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StreamFuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StreamFuzz::throughSocket(data, size, [](int fd) {
        qsizetype total = 0;
        DeviceMessages::read(fd, [&total](QString text) { total += text.size(); });
    });
    return 0;
}
