#include "core/VantleLog.h"
#include "stream/AndroidStreamClient.h"
#include "stream/StreamRecorder.h"
#include "stream/PCMAudioPlayer.h"

#include <QtEndian>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

constexpr uint32_t rawCodecID = 0x00726177; // "raw"
constexpr uint32_t maxPacketBytes = 0xFFFFF;
constexpr int maxLevelReports = 20;
constexpr qsizetype levelStrideBytes = 64;
constexpr double levelWindowSeconds = 3.0;

} // namespace

// The audio socket (scrcpy 5.0.1 with audio_codec=raw):
//
//   codec id u32 = 0x00726177 "raw"
//   then packets:  | flags and pts u64 | size u32 | size bytes of payload |
//                    bit 62 of the first field marks a configuration packet (skipped)
//   payload: s16 little-endian, left/right interleaved, 48000 frames per second
//
// Audio never ends the session: whatever goes wrong here, video and control go on.
void AndroidStreamClient::readAudio(int fd) {
    const auto codec = readExactly(fd, 4);
    if (!codec) return;
    if (const uint32_t id = readBE(*codec, 0); id != rawCodecID) {
        m_log->write(QString::asprintf("Vantle: audio forwarding unavailable (codec 0x%08x)", id));
        return;
    }
    auto player = std::make_shared<PCMAudioPlayer>();
    {
        std::lock_guard guard(m_lock);
        if (m_stopped) return;
        m_audioPlayer = player;
    }
    m_log->write(u"Vantle: audio forwarding on (48 kHz stereo PCM)"_s);
    for (;;) {
        const auto header = readExactly(fd, 12);
        if (!header) break;
        const uint32_t size = readBE(*header, 8);
        if (size == 0 || size > maxPacketBytes) break;
        const auto payload = readExactly(fd, qsizetype(size));
        if (!payload) break;
        if (uint8_t(header->at(0)) & 0x40) continue; // configuration packet
        player->play(*payload);
        std::shared_ptr<StreamRecorder> recorder;
        {
            std::lock_guard guard(m_lock);
            recorder = m_recorder;
        }
        if (recorder) recorder->appendAudio(*payload);
        levelCheck(*payload);
    }
    player->stop();
}

void AndroidStreamClient::levelCheck(const QByteArray& pcm) {
    if (m_levelReports >= maxLevelReports) return;
    const auto* bytes = reinterpret_cast<const uchar*>(pcm.constData());
    for (qsizetype offset = 0; offset + 1 < pcm.size(); offset += levelStrideBytes)
        m_levelPeak = std::max(m_levelPeak, std::abs(int32_t(qFromLittleEndian<qint16>(bytes + offset))));
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration<double>(now - m_levelWindowStart).count() >= levelWindowSeconds) {
        m_log->write(u"Vantle: audio peak "_s + QString::number(m_levelPeak));
        m_levelPeak = 0;
        ++m_levelReports;
        m_levelWindowStart = now;
    }
}
