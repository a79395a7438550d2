#include "stream/AudioReader.h"

#include "core/VantleLog.h"
#include "stream/SocketIO.h"

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

namespace AudioReader {

bool readHeader(int fd, VantleLog& log) {
    const auto codec = readExactly(fd, 4);
    if (!codec) return false;
    if (const uint32_t id = readBE(*codec, 0); id != rawCodecID) {
        log.write(QString::asprintf("Vantle: audio forwarding unavailable (codec 0x%08x)", id));
        return false;
    }
    return true;
}

void read(int fd, const std::vector<AudioSink*>& sinks) {
    for (;;) {
        const auto header = readExactly(fd, 12);
        if (!header) return;
        const uint32_t size = readBE(*header, 8);
        if (size == 0 || size > maxPacketBytes) return;
        const auto payload = readExactly(fd, qsizetype(size));
        if (!payload) return;
        if (uint8_t(header->at(0)) & 0x40) continue; // configuration packet
        for (AudioSink* sink : sinks)
            sink->push(*payload);
    }
}

} // namespace AudioReader

AudioLevelLog::AudioLevelLog(VantleLog& log)
    : m_log(log)
    , m_windowStart(std::chrono::steady_clock::now()) {}

void AudioLevelLog::push(const QByteArray& pcm) {
    if (m_reports >= maxLevelReports) return;
    const auto* bytes = reinterpret_cast<const uchar*>(pcm.constData());
    for (qsizetype offset = 0; offset + 1 < pcm.size(); offset += levelStrideBytes)
        m_peak = std::max(m_peak, std::abs(int32_t(qFromLittleEndian<qint16>(bytes + offset))));
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration<double>(now - m_windowStart).count() >= levelWindowSeconds) {
        m_log.write(u"Vantle: audio peak "_s + QString::number(m_peak));
        m_peak = 0;
        ++m_reports;
        m_windowStart = now;
    }
}
