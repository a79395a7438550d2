#include "stream/GLVideoSurface.h"

#include <QGenericMatrix>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2 // OpenGL ES 3 headers have it, ES 2 ones do not
#endif

namespace {

const char* const vertexShader = R"(
attribute vec2 position;
attribute vec2 texCoord;
varying vec2 coord;
void main() {
    gl_Position = vec4(position, 0.0, 1.0);
    coord = texCoord;
}
)";

const char* const fragmentShader = R"(
#ifdef GL_ES
precision mediump float;
#endif
varying vec2 coord;
uniform sampler2D planeY;
uniform sampler2D planeU;
uniform sampler2D planeV;
uniform vec2 lumaScale;
uniform vec2 chromaScale;
uniform mat3 yuvToRgb;
uniform vec3 offset;
void main() {
    vec3 yuv = vec3(texture2D(planeY, coord * lumaScale).r, texture2D(planeU, coord * chromaScale).r,
                    texture2D(planeV, coord * chromaScale).r) - offset;
    gl_FragColor = vec4(clamp(yuvToRgb * yuv, 0.0, 1.0), 1.0);
}
)";

// Rows are R, G, B; columns Y, U, V. BT.601 and BT.709, video ("limited") and full range.
QMatrix3x3 conversion(bool bt709, bool fullRange) {
    const float y = fullRange ? 1.0f : 255.0f / 219.0f, c = fullRange ? 1.0f : 255.0f / 224.0f;
    const float kr = bt709 ? 0.2126f : 0.299f, kb = bt709 ? 0.0722f : 0.114f, kg = 1.0f - kr - kb;
    const float values[] = {y,
                            0.0f,
                            c * 2.0f * (1.0f - kr),
                            y,
                            -c * 2.0f * (1.0f - kb) * kb / kg,
                            -c * 2.0f * (1.0f - kr) * kr / kg,
                            y,
                            c * 2.0f * (1.0f - kb),
                            0.0f};
    return QMatrix3x3(values);
}

} // namespace

GLVideoSurface::GLVideoSurface(QWidget* parent)
    : QOpenGLWidget(parent) {
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (std::exchange(m_unshown, false) && onShown) onShown();
    });
}

GLVideoSurface::~GLVideoSurface() {
    if (!context()) return;
    makeCurrent();
    glDeleteTextures(3, m_textures);
    doneCurrent();
}

void GLVideoSurface::present(VideoFrame frame) {
    if (!frame) return;
    m_pending = std::move(frame);
    update();
}

void GLVideoSurface::initializeGL() {
    initializeOpenGLFunctions();
    m_program.addShaderFromSourceCode(QOpenGLShader::Vertex, vertexShader);
    m_program.addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentShader);
    m_program.bindAttributeLocation("position", 0);
    m_program.bindAttributeLocation("texCoord", 1);
    m_program.link();
    // Desktop OpenGL and OpenGL ES 3 read rows out of a longer stride.
    m_rowLength = !context()->isOpenGLES() || context()->format().majorVersion() >= 3;
    glGenTextures(3, m_textures);
    for (GLuint texture : m_textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
}

void GLVideoSurface::upload(const AVFrame& frame) {
    const bool yuv420 = frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P;
    if (!yuv420 || frame.width <= 0 || frame.height <= 0) return; // H.264 from the server is 4:2:0
    m_videoSize = QSize(frame.width, frame.height);
    m_fullRange = frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P;
    m_bt709 = frame.colorspace == AVCOL_SPC_BT709;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? frame.height : (frame.height + 1) / 2;
        const int columns = plane == 0 ? frame.width : (frame.width + 1) / 2;
        // With a row length the texture is the picture's own width; without one (OpenGL ES 2)
        // it is a whole row of the plane wide, padding included, and the shader samples only the
        // picture's part of it.
        const QSize size(m_rowLength ? columns : frame.linesize[plane], rows);
        if (m_rowLength) glPixelStorei(GL_UNPACK_ROW_LENGTH, frame.linesize[plane]);
        glActiveTexture(GL_TEXTURE0 + plane);
        glBindTexture(GL_TEXTURE_2D, m_textures[plane]);
        if (size != m_textureSizes[plane]) {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, size.width(), size.height(), 0, GL_LUMINANCE,
                         GL_UNSIGNED_BYTE, frame.data[plane]);
            m_textureSizes[plane] = size;
        } else {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.width(), size.height(), GL_LUMINANCE,
                            GL_UNSIGNED_BYTE, frame.data[plane]);
        }
    }
    if (m_rowLength) glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    m_lumaScale = QSizeF(double(frame.width) / m_textureSizes[0].width(), 1.0);
    m_chromaScale = QSizeF(double((frame.width + 1) / 2) / m_textureSizes[1].width(), 1.0);
    m_unshown = true;
}

void GLVideoSurface::paintGL() {
    if (VideoFrame frame = std::exchange(m_pending, nullptr)) upload(*frame);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (m_videoSize.isEmpty() || !m_program.isLinked()) return;
    const double ratio = devicePixelRatioF();
    const QRectF fit = aspectFitRect(size(), m_videoSize);
    glViewport(int(fit.x() * ratio), int((height() - fit.bottom()) * ratio), int(fit.width() * ratio),
               int(fit.height() * ratio));
    m_program.bind();
    m_program.setUniformValue("planeY", 0);
    m_program.setUniformValue("planeU", 1);
    m_program.setUniformValue("planeV", 2);
    m_program.setUniformValue("lumaScale", m_lumaScale);
    m_program.setUniformValue("chromaScale", m_chromaScale);
    m_program.setUniformValue("yuvToRgb", conversion(m_bt709, m_fullRange));
    m_program.setUniformValue("offset", m_fullRange ? 0.0f : 16.0f / 255.0f, 128.0f / 255.0f,
                              128.0f / 255.0f);
    for (int plane = 0; plane < 3; ++plane) {
        glActiveTexture(GL_TEXTURE0 + plane);
        glBindTexture(GL_TEXTURE_2D, m_textures[plane]);
    }
    // A strip of two triangles; row 0 of the picture at the top.
    static const GLfloat positions[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    static const GLfloat coords[] = {0, 1, 1, 1, 0, 0, 1, 0};
    m_program.enableAttributeArray(0);
    m_program.enableAttributeArray(1);
    m_program.setAttributeArray(0, GL_FLOAT, positions, 2);
    m_program.setAttributeArray(1, GL_FLOAT, coords, 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_program.disableAttributeArray(0);
    m_program.disableAttributeArray(1);
    m_program.release();
}
