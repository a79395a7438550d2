#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QToolButton;

// The 36-point bar on top of an app window: home, back, the title, the notification shade's bell,
// capture, lock, pin, size, hide and close.
// Dragging the bar moves the window. The session wires the callbacks.
class HeaderView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int height = 36;

    explicit HeaderView(const QString& title, QWidget* parent = nullptr);

    std::function<void()> onHome, onBack, onShade, onLock, onPin, onHide, onClose;
    std::function<void(QWidget*button)> onSize, onCapture;

    void setPinned(bool pinned);
    void setLocked(bool locked);
    // The capture button: a camera, or the red record circle while a recording runs.
    void setRecording(bool recording);
    QToolButton* button(const QString& objectName) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QToolButton* addButton(const QString& objectName, const QString& glyph, const QString& toolTip);

    QLabel* m_title = nullptr;
    QToolButton* m_pin = nullptr;
    QToolButton* m_lock = nullptr;
    QToolButton* m_capture = nullptr;
};
