#pragma once

#include <QWidget>
#include <functional>

class HeaderView;

// The borderless, resizable top-level window of one app: the header on top, the video view below,
// a resize grip in the corner. It reports the window events to its session and never closes
// itself: a close request goes to the session, which decides.
class AndroidAppPanel final : public QWidget {
    Q_OBJECT
public:
    AndroidAppPanel(const QString& title, HeaderView* header, QWidget* videoView);

    std::function<void()> onResignKey, onBecomeKey, onMove, onResize, onShouldClose;

    HeaderView* header() const { return m_header; }

protected:
    bool event(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    HeaderView* m_header;
};
