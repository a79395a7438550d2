#pragma once

#include <QImage>
#include <QSize>

struct AVFrame;
struct SwsContext;

// Converts decoded pictures to 32-bit 0xffRRGGBB images (QImage::Format_RGB32) of their own size
// with libswscale (its unscaled converters are several times faster than scaling on the way). Keeps its
// scaler and its pixel buffer from one picture to the next: a stream of same-sized pictures allocates nothing
// after the first. The image returned stays valid until the next call; a caller that keeps a copy keeps its
// pixels too (the next call then writes into a new buffer). One owner thread.
class ImageConverter {
public:
    ImageConverter() = default;
    ~ImageConverter();
    ImageConverter(const ImageConverter&) = delete;
    ImageConverter& operator=(const ImageConverter&) = delete;

    // A null image when `frame` cannot be converted.
    const QImage& convert(const AVFrame* frame);

private:
    struct Setup {
        QSize size;
        int format = -1;
        bool fullRange = false, bt709 = false;
        bool operator==(const Setup&) const = default;
    };
    Setup m_setup;
    SwsContext* m_scaler = nullptr; // made for m_setup
    QImage m_image;
};
