#include "windows/NotificationBannerView.h"

#include "windows/BellGlyph.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

NotificationBannerView::NotificationBannerView(QWidget* parent)
    : QWidget(parent) {
    setObjectName(u"banner"_s);
    setAttribute(Qt::WA_StyledBackground, false);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 10, 8);
    row->setSpacing(8);
    auto* bell = new QLabel(this);
    bell->setObjectName(u"bannerBell"_s);
    bell->setAlignment(Qt::AlignTop);
    bell->setPixmap(BellGlyph::icon(14, palette().color(QPalette::Highlight)).pixmap(14, 14));
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    m_title = new QLabel(this);
    m_title->setObjectName(u"bannerTitle"_s);
    QFont titleFont = m_title->font();
    titleFont.setPointSizeF(9); // 12 px at 96 dpi
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    m_body = new QLabel(this);
    m_body->setObjectName(u"bannerBody"_s);
    m_body->setWordWrap(true);
    QFont bodyFont = m_body->font();
    bodyFont.setPointSizeF(9);
    m_body->setFont(bodyFont);
    m_body->setForegroundRole(QPalette::PlaceholderText); // the secondary label colour
    column->addWidget(m_title);
    column->addWidget(m_body);
    row->addWidget(bell);
    row->addLayout(column, 1);

    auto* effect = new QGraphicsOpacityEffect(this);
    effect->setOpacity(0);
    setGraphicsEffect(effect);
    m_fade = new QPropertyAnimation(effect, "opacity", this);
    m_fade->setDuration(200);
    m_hideWork = new QTimer(this);
    m_hideWork->setSingleShot(true);
    m_hideWork->setInterval(autoHideMs);
    connect(m_hideWork, &QTimer::timeout, this, &NotificationBannerView::dismiss);
    if (parent) parent->installEventFilter(this); // follows the window's width
    QWidget::hide();
}

void NotificationBannerView::show(const AndroidNotification& notification) {
    m_title->setText(notification.title.isEmpty() ? u"Notification"_s : notification.title);
    m_body->setText(notification.text);
    m_body->setVisible(!notification.text.isEmpty());
    place();
    QWidget::show();
    raise();
    fadeTo(1, false);
    m_hideWork->start();
}

void NotificationBannerView::dismiss() {
    m_hideWork->stop();
    fadeTo(0, true);
}

void NotificationBannerView::fadeTo(double opacity, bool hideWhenDone) {
    m_fade->stop();
    disconnect(m_fade, &QPropertyAnimation::finished, this, nullptr);
    m_fade->setStartValue(static_cast<QGraphicsOpacityEffect*>(graphicsEffect())->opacity());
    m_fade->setEndValue(opacity);
    // The fade is owned by the view: once the view is gone, nothing is hidden any more.
    if (hideWhenDone) connect(m_fade, &QPropertyAnimation::finished, this, [this] { QWidget::hide(); });
    m_fade->start();
}

void NotificationBannerView::place() {
    if (!parentWidget()) return;
    const int width = std::max(120, parentWidget()->width() - 20);
    // The body wraps: the height follows from the width.
    setFixedSize(width, layout()->totalHeightForWidth(width));
    move(10, 8);
}

bool NotificationBannerView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible()) place();
    return QWidget::eventFilter(watched, event);
}

void NotificationBannerView::mousePressEvent(QMouseEvent*) {
    dismiss();
}

void NotificationBannerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    // The video view behind is black; the banner keeps the desktop's window colour, under which its
    // inherited text colour reads.
    QColor fill = QApplication::palette(this).color(QPalette::Window);
    fill.setAlpha(240);
    painter.fillPath(shape, fill);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawPath(shape);
}
