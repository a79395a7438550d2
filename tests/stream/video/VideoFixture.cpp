#include "VideoFixture.h"

#include <cstdlib>

QImage testPicture(int width, int height, int index) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(x * 255 / width, y * 255 / height, (index * 23) % 256);
    }
    const int block = std::max(8, width / 6);
    const int left = (index * 7) % std::max(1, width - block),
              top = (index * 11) % std::max(1, height - block);
    for (int y = top; y < top + block; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = left; x < left + block; ++x)
            line[x] = qRgb(250, 250, 250);
    }
    return image;
}

EncodedClip encodeClip(int width, int height, int frameCount, int keyEvery) {
    EncodedClip clip;
    clip.width = width;
    clip.height = height;
    H264Encoder encoder(width, height, 30, 4'000'000);
    clip.parameterSets = encoder.parameterSets();
    for (int i = 0; i < frameCount; ++i) {
        const QImage picture = testPicture(width, height, i);
        ScreenImage screen(width, height);
        for (int y = 0; y < height; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            std::copy(line, line + width, screen.pixels.begin() + qsizetype(y) * width);
        }
        const bool key = i == 0 || (keyEvery > 0 && i % keyEvery == 0);
        for (auto& frame : encoder.encode(screen, i, key)) {
            clip.frames.push_back(std::move(frame));
            clip.pictures.push_back(picture);
        }
    }
    return clip;
}

VideoFormatRef EncodedClip::format() const {
    const auto nals = H264::nalUnits(parameterSets);
    const auto sps = H264::firstOfType(nals, H264::sequenceParameterSet);
    const auto pps = H264::firstOfType(nals, H264::pictureParameterSet);
    return sps && pps ? H264::format(*sps, *pps) : nullptr;
}

double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) return 255;
    const QImage left = a.convertToFormat(QImage::Format_RGB32),
                 right = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < left.height(); ++y) {
        const auto* l = reinterpret_cast<const QRgb*>(left.constScanLine(y));
        const auto* r = reinterpret_cast<const QRgb*>(right.constScanLine(y));
        for (int x = 0; x < left.width(); ++x)
            sum += std::abs(qRed(l[x]) - qRed(r[x])) + std::abs(qGreen(l[x]) - qGreen(r[x])) +
                   std::abs(qBlue(l[x]) - qBlue(r[x]));
    }
    return sum / (3.0 * left.width() * left.height());
}
