#pragma once

#include "stream/FrameRenderer.h"

#include <QList>
#include <QPointF>
#include <QSize>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AndroidStreamClient;
class VideoSurface;

// The video area of an app window: shows the stream's pictures aspect-fit on black and turns
// mouse, wheel, keyboard, input-method and file-drop input into control messages for the
// window's stream client. The renderer it owns decodes on the client's reader thread and tells
// the view (through a queued call) when a picture is waiting. While the view is hidden or its
// window minimised the picture stays in the renderer's mailbox (newer ones replace it there), so
// nothing is converted or drawn; the newest is shown when the view comes back. GUI thread only.
class AndroidVideoView final : public QWidget {
    Q_OBJECT
public:
    explicit AndroidVideoView(QWidget* parent = nullptr);
    ~AndroidVideoView() override;

    std::shared_ptr<VideoSink> renderer() const { return m_renderer; }
    std::shared_ptr<FrameRenderer> frameRenderer() const { return m_renderer; }
    void setClient(std::weak_ptr<AndroidStreamClient> client);

    std::function<void(const QList<QUrl>&)> onFilesDropped;
    std::function<void()> onBackRequest;
    std::function<void()> onCloseRequest; // Ctrl+W: the window's normal close

    // A point of the view in video pixels, with the video size; nothing before the first video
    // session or without a client. Points in the letterbox bars clamp to the nearest edge.
    std::optional<std::pair<QPointF, QSize>> androidPoint(QPointF viewPoint) const;
    // The last picture that reached the screen (empty before the first).
    QImage currentFrame() const;
    // Clipboard transfer with Android (Ctrl+V, Ctrl+C): the desktop's text is pasted into the app;
    // Android is asked to copy the app's selection, which comes back as the desktop clipboard.
    void pasteFromDesktop() const;
    void copyToDesktop() const;
    bool showsDropHighlight() const { return m_dropHighlight; }

Q_SIGNALS:
    void frameShown();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void showWaitingFrame();
    bool isOnScreen() const;
    void send(const QByteArray& message) const;
    void touch(int action, QPointF viewPoint) const;
    void back();
    bool handleShortcut(QKeyEvent* event);
    void sendText(const QString& text) const;
    void setDropHighlight(bool on);

    std::shared_ptr<FrameRenderer> m_renderer = std::make_shared<FrameRenderer>();
    std::weak_ptr<AndroidStreamClient> m_client;
    std::unique_ptr<VideoSurface> m_surface;
    QWidget* m_border = nullptr; // the drop highlight, above the surface
    VideoFrame m_shown;
    VideoFrame m_presented;
    bool m_dropHighlight = false;
};
