#pragma once

#include "integrations/AndroidNotifications.h"

#include <QWidget>

class QLabel;
class QPropertyAnimation;
class QTimer;

// The short banner at the top of an app window: a mirrored notification, or any feature's toast
// (a notification value carrying the message as title and text). Hides itself 5 s after the last
// `show`, or when clicked. Starts hidden. GUI thread; a child of the window's video area.
class NotificationBannerView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int autoHideMs = 5000;

    explicit NotificationBannerView(QWidget* parent);

    void show(const AndroidNotification& notification);
    void dismiss();

    const QLabel* titleLabel() const { return m_title; }
    const QLabel* bodyLabel() const { return m_body; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();
    void fadeTo(double opacity, bool hideWhenDone);

    QLabel* m_title = nullptr;
    QLabel* m_body = nullptr;
    QTimer* m_hideWork = nullptr;
    QPropertyAnimation* m_fade = nullptr;
};
