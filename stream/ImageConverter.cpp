#include "stream/ImageConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace {

// swscale's vector code may write up to a vector's width past the last pixel of a row, so the
// pixels live in a padded buffer of our own that the image frees.
QImage paddedImage(QSize size) {
    const qsizetype stride = (qsizetype(size.width()) * 4 + 63) & ~qsizetype(63);
    auto* pixels = static_cast<uchar*>(av_malloc(size_t(stride) * size_t(size.height()) + 256));
    if (!pixels) return {};
    return QImage(pixels, size.width(), size.height(), stride, QImage::Format_RGB32, av_free, pixels);
}

} // namespace

ImageConverter::~ImageConverter() {
    sws_freeContext(m_scaler);
}

const QImage& ImageConverter::convert(const AVFrame* frame) {
    static const QImage none;
    if (!frame || frame->width <= 0 || frame->height <= 0) return none;
    const Setup setup{QSize(frame->width, frame->height), frame->format,
                      frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P,
                      frame->colorspace == AVCOL_SPC_BT709};
    if (!m_scaler || setup != m_setup) {
        sws_freeContext(std::exchange(m_scaler, nullptr));
        // Format_RGB32 is 0xffRRGGBB in native byte order: B, G, R, A in memory on little-endian hosts.
        const auto target = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
        const QSize size = setup.size;
        m_scaler = sws_getContext(size.width(), size.height(), AVPixelFormat(frame->format), size.width(),
                                  size.height(), target, SWS_POINT, nullptr, nullptr, nullptr);
        if (!m_scaler) return none;
        sws_setColorspaceDetails(m_scaler, sws_getCoefficients(setup.bt709 ? SWS_CS_ITU709 : SWS_CS_ITU601),
                                 setup.fullRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                 1 << 16);
        m_setup = setup;
    }
    // A buffer someone else still holds keeps its pixels: theirs is a finished picture.
    if (m_image.size() != setup.size || !m_image.isDetached()) m_image = paddedImage(setup.size);
    if (m_image.isNull()) return none;
    uint8_t* planes[4] = {m_image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(m_image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) !=
        setup.size.height())
        return none;
    return m_image;
}
