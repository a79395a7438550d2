#pragma once

#include <QImage>
#include <QSize>

struct AVFrame;
struct SwsContext;

// Converts decoded pictures to 32-bit 0xffRRGGBB images (QImage::Format_RGB32) with libswscale,
// scaling on the way when asked. Keeps its scaler and its pixel buffer from one picture to the
// next: a stream of same-sized pictures allocates nothing after the first. The image returned
// stays valid until the next call; a caller that keeps a copy keeps its pixels too (the next call
// then writes into a new buffer). One owner thread.
class ImageConverter {
public:
    ImageConverter() = default;
    ~ImageConverter();
    ImageConverter(const ImageConverter&) = delete;
    ImageConverter& operator=(const ImageConverter&) = delete;

    // `frame` at `size` (its own size when empty); a null image when it cannot be converted.
    const QImage& convert(const AVFrame* frame, QSize size = {});

private:
    struct Setup {
        QSize source, size;
        int format = -1;
        bool fullRange = false, bt709 = false;
        bool operator==(const Setup&) const = default;
    };
    Setup m_setup;
    SwsContext* m_scaler = nullptr; // made for m_setup
    QImage m_image;
};
