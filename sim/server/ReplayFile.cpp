#include "sim/server/ReplayFile.h"

#include "sim/server/H264Encoder.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
}

using namespace Qt::Literals::StringLiterals;

QByteArray parameterSetsOf(const QByteArray& annexB) {
    QByteArray sets;
    qsizetype i = 0;
    const qsizetype n = annexB.size();
    auto startCodeAt = [&](qsizetype p) {
        return p + 2 < n && annexB[p] == 0 && annexB[p + 1] == 0 && annexB[p + 2] == 1;
    };
    while (i < n) {
        if (!startCodeAt(i)) {
            ++i;
            continue;
        }
        const qsizetype begin = i + 3;
        qsizetype end = begin;
        while (end < n && !startCodeAt(end))
            ++end;
        qsizetype unitEnd = end;
        if (end < n && unitEnd > begin && annexB[unitEnd - 1] == 0)
            --unitEnd; // 4-byte start code of the next
        const int type = begin < n ? annexB[begin] & 0x1f : 0;
        if (type == 7 || type == 8) sets += QByteArray("\0\0\0\1", 4) + annexB.mid(begin, unitEnd - begin);
        i = end;
    }
    return sets;
}

std::optional<ReplayFile> ReplayFile::load(const QString& path) {
    AVFormatContext* format = nullptr;
    const AVInputFormat* h264 = av_find_input_format("h264");
    if (avformat_open_input(&format, path.toLocal8Bit().constData(), h264, nullptr) < 0) return std::nullopt;
    ReplayFile replay;
    if (avformat_find_stream_info(format, nullptr) >= 0 && format->nb_streams > 0) {
        replay.width = format->streams[0]->codecpar->width;
        replay.height = format->streams[0]->codecpar->height;
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        const QByteArray data(reinterpret_cast<const char*>(packet->data), packet->size);
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        if (replay.parameterSets.isEmpty()) replay.parameterSets = parameterSetsOf(data);
        replay.frames.push_back({data, key});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    if (replay.frames.empty() || replay.parameterSets.isEmpty() || replay.width <= 0 || replay.height <= 0)
        return std::nullopt;
    return replay;
}

QString ReplayFile::create(const QString& path, int width, int height, int frameCount) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return u"Cannot write "_s + path;
    try {
        H264Encoder encoder(width & ~1, height & ~1, 60, 8000000);
        ScreenImage image(encoder.width(), encoder.height());
        ScreenState screen;
        screen.package = u"org.vantle.replay"_s;
        screen.label = u"Replay"_s;
        for (int i = 0; i < frameCount; ++i) {
            screen.frame = quint64(i);
            screen.clockMs = qint64(i) * 1000 / 60;
            screen.touches = {QPoint((i * 7) % encoder.width(), (i * 13) % encoder.height())};
            ScreenPainter::paint(image, screen);
            for (const EncodedFrame& frame : encoder.encode(image, i, i % 120 == 0)) {
                if (frame.key) file.write(encoder.parameterSets());
                file.write(frame.data);
            }
        }
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    }
    return file.flush() ? QString() : u"Cannot write "_s + path;
}
