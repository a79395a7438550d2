#pragma once

#include "sim/server/H264Encoder.h"
#include "stream/H264.h"

#include <QImage>
#include <vector>

// Real H.264 from the simulated server's encoder: a smooth background and a moving block.
struct EncodedClip {
    int width = 0, height = 0;
    QByteArray parameterSets; // Annex B SPS + PPS
    std::vector<EncodedFrame> frames;
    std::vector<QImage> pictures; // what the encoder was fed, one per frame

    VideoFormatRef format() const;
    // The access unit of frame `index` as the video reader sees it.
    std::vector<H264::Bytes> units(size_t index) const { return H264::nalUnits(frames.at(index).data); }
};

// `keyEvery` = 0: only the first frame is a key frame.
EncodedClip encodeClip(int width, int height, int frameCount, int keyEvery = 0);
QImage testPicture(int width, int height, int index);

// Mean absolute difference per colour channel, 0 to 255 (255 when the sizes differ).
double meanDifference(const QImage& a, const QImage& b);
