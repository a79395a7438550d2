#pragma once

#include "sim/screen/ScreenPainter.h"

#include <QByteArray>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// The display server's video encoder: libavcodec's libx264 with zero latency and no B-frames, so
// every input frame comes out at once as one Annex B access unit. Parameter sets are kept out of
// band (global header) and sent as the stream's configuration packet.
struct EncodedFrame {
    QByteArray data; // Annex B
    bool key = false;
};

class H264Encoder {
public:
    // Throws std::runtime_error when libx264 is missing or refuses the settings.
    H264Encoder(int width, int height, int fps, int bitRate);
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    QByteArray parameterSets() const; // SPS and PPS, Annex B
    // `forceKey` makes the frame an IDR frame.
    std::vector<EncodedFrame> encode(const ScreenImage& image, int64_t frameIndex, bool forceKey);

private:
    int m_width, m_height;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
};
