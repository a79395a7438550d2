// libFuzzer target: the audio reader (codec id, packet headers, PCM into the jitter buffer and the
// level statistics) on the bytes of the audio socket.
#include "core/VantleLog.h"
#include "fuzz/StreamFuzzSupport.h"
#include "stream/AndroidStreamClient.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StreamFuzz::initialize();
    PCMAudioPlayer::setOutputFactory([] { return std::make_unique<StreamFuzz::NullAudioOutput>(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto log =
        std::make_shared<VantleLog>(QStringLiteral("fuzz-audio.log"), VantleLog::Opening::truncate);
    const auto client = AndroidStreamClient::create({}, nullptr, log);
    StreamFuzz::throughSocket(data, size, [&client](int fd) { client->readAudioStream(fd); });
    return 0;
}
