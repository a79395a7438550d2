// libFuzzer target: the video reader (header, session, configuration and media packets, H.264
// parameter sets and samples) on the bytes of the video socket.
#include "core/VantleLog.h"
#include "fuzz/StreamFuzzSupport.h"
#include "stream/AndroidStreamClient.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StreamFuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto log =
        std::make_shared<VantleLog>(QStringLiteral("fuzz-video.log"), VantleLog::Opening::truncate);
    const auto renderer = std::make_shared<StreamFuzz::NullRenderer>();
    const auto client = AndroidStreamClient::create({}, renderer, log);
    StreamFuzz::throughSocket(data, size, [&client](int fd) { client->readVideoStream(fd); });
    return 0;
}
