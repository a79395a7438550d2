#pragma once

#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <optional>

class AndroidMirrorModel;
class QLabel;
class QToolButton;

// The mirror mode's one window ("android-player", titled "Vantle Android"): a header with the
// library, pin, minimise and close buttons over the mirrored screen. A click on the screen is a
// tap, a drag a swipe, both in the coordinates of the shown frame. Main thread only.
class AndroidPlayerView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int headerHeight = 36;
    // A press that moves less than this is a tap.
    static constexpr int dragThresholdPixels = 8;

    explicit AndroidPlayerView(AndroidMirrorModel& model, QWidget* parent = nullptr);

    // "Back to app library"; the window closes itself, `onClosed` follows.
    std::function<void()> onBackToLibrary;
    std::function<void()> onClosed;

    // Where the frame is drawn inside the screen area: as large as fits, centred, its shape kept.
    QRectF frameRect() const;
    QWidget* screenArea() const { return m_screen; }
    bool isPinned() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setPinned(bool pinned);
    void paintScreen();

    AndroidMirrorModel& m_model;
    QWidget* m_screen = nullptr;
    QToolButton* m_pin = nullptr;
    std::optional<QPointF> m_pressedAt; // in the screen area
};
