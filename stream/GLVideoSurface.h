#pragma once

#include "stream/VideoSurface.h"

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>

// The OpenGL surface: uploads the Y, U and V planes of each 4:2:0 picture as three one-channel
// textures and converts them to RGB in a fragment shader, so the GUI thread never touches pixels.
// GLSL 1.00/1.20 and luminance textures keep it working on OpenGL 2.1 and OpenGL ES 2.
class GLVideoSurface final : public QOpenGLWidget, protected QOpenGLFunctions, public VideoSurface {
public:
    explicit GLVideoSurface(QWidget* parent);
    ~GLVideoSurface() override;
    QWidget* widget() override { return this; }
    void present(VideoFrame frame) override;

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void upload(const AVFrame& frame);

    VideoFrame m_pending;
    QSize m_videoSize;
    QSizeF m_lumaScale{1, 1}, m_chromaScale{1, 1}; // used width of each texture row
    bool m_fullRange = false, m_bt709 = false;
    bool m_unshown = false;
    bool m_rowLength = false; // GL_UNPACK_ROW_LENGTH is there
    QOpenGLShaderProgram m_program;
    GLuint m_textures[3] = {0, 0, 0};
    QSize m_textureSizes[3];
};
