#pragma once

#include <QPointer>
#include <QWidget>

class NotificationShadeModel;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The notification shade over an app window's video area: a dimmed backdrop and a scrolling column
// with the clock, an optional media card (set by the window's owner), one card per notification
// or "No notifications", and "Clear". A click on the backdrop or the empty area below closes it
// (`NotificationShadeModel::onClose`). Observes the model it is given; GUI thread.
class NotificationShadeView final : public QWidget {
    Q_OBJECT
public:
    NotificationShadeView(NotificationShadeModel& model, QWidget* parent);

    // Shows `card` above the notifications (ownership passes to the shade), replacing an earlier
    // one; nullptr removes it.
    void setMediaCard(QWidget* card);
    QWidget* mediaCard() const { return m_mediaCard; }

    // Opens (fades in) or closes (fades out, then hides) the shade.
    void open();
    void close();
    bool isOpen() const { return isVisible() && !m_closing; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void tick();

    NotificationShadeModel& m_model;
    QLabel* m_time = nullptr;
    QLabel* m_date = nullptr;
    QVBoxLayout* m_mediaSlot = nullptr;
    QPointer<QWidget> m_mediaCard;
    QVBoxLayout* m_cards = nullptr;
    QWidget* m_clearRow = nullptr;
    bool m_closing = false;
};
