#include "windows/NotificationShadeView.h"

#include "integrations/NotificationShadeModel.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// Fonts are given in pixels of the reference design (points on the Mac's 72-dpi logical grid).
QFont sized(const QWidget* like, int pixels, QFont::Weight weight = QFont::Normal) {
    QFont font = like->font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// A rounded "material" card: the window colour, slightly translucent over the dimmed video.
class Card final : public QWidget {
public:
    explicit Card(QWidget* parent = nullptr, int radius = 22)
        : QWidget(parent)
        , m_radius(radius) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // The desktop's window colour, not the black the video view behind gives its children.
        QColor fill = QApplication::palette(this).color(QPalette::Window);
        fill.setAlpha(235);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        const double radius = std::min<double>(m_radius, height() / 2.0);
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); } // not the backdrop

private:
    int m_radius;
};

// The empty area under the cards: a click on it closes the shade, like the backdrop.
class CloseArea final : public QWidget {
public:
    std::function<void()> onClick;
    using QWidget::QWidget;

protected:
    void mousePressEvent(QMouseEvent*) override {
        if (onClick) onClick();
    }
};

QLabel* label(QWidget* parent, const QString& text, int pixels, QFont::Weight weight, bool secondary) {
    auto* item = new QLabel(text, parent);
    item->setFont(sized(parent, pixels, weight));
    item->setWordWrap(true);
    if (secondary) item->setForegroundRole(QPalette::PlaceholderText);
    return item;
}

} // namespace

NotificationShadeView::NotificationShadeView(NotificationShadeModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    setObjectName(u"shade"_s);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(u"QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"_s);
    // A thin bar over the shade's backdrop, as a phone's shade has, rather than the desktop's gutter.
    scroll->verticalScrollBar()->setStyleSheet(
        u"QScrollBar:vertical { width: 6px; background: transparent; margin: 4px 2px 4px 0; }"
        u"QScrollBar::handle:vertical { background: rgba(255,255,255,110); border-radius: 2px; min-height: "
        u"24px; }"
        u"QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        u"QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"_s);
    outer->addWidget(scroll);

    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(12, 12, 12, 0);
    layout->setSpacing(10);

    auto* clock = new QHBoxLayout;
    m_time = label(column, {}, 28, QFont::DemiBold, false);
    m_time->setObjectName(u"shadeTime"_s);
    m_time->setStyleSheet(u"color: white;"_s);
    m_date = label(column, {}, 12, QFont::Medium, false);
    m_date->setObjectName(u"shadeDate"_s);
    m_date->setStyleSheet(u"color: rgba(255,255,255,190);"_s);
    clock->addWidget(m_time, 0, Qt::AlignBaseline);
    clock->addStretch(1);
    clock->addWidget(m_date, 0, Qt::AlignBaseline);
    layout->addLayout(clock);

    m_mediaSlot = new QVBoxLayout;
    m_mediaSlot->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(m_mediaSlot);
    m_cards = new QVBoxLayout;
    m_cards->setContentsMargins(0, 0, 0, 0);
    m_cards->setSpacing(8);
    layout->addLayout(m_cards);

    m_clearRow = new QWidget(column);
    auto* clearRow = new QHBoxLayout(m_clearRow);
    clearRow->setContentsMargins(0, 0, 0, 0);
    clearRow->addStretch(1);
    auto* clear = new QPushButton(u"Clear"_s, m_clearRow);
    clear->setObjectName(u"clear"_s);
    clear->setFont(sized(column, 12, QFont::DemiBold));
    clear->setCursor(Qt::PointingHandCursor);
    clear->setStyleSheet(u"QPushButton { padding: 6px 14px; border: none; border-radius: 12px;"
                         u" background: palette(window); color: palette(window-text); }"_s);
    clearRow->addWidget(clear);
    layout->addWidget(m_clearRow);
    connect(clear, &QPushButton::clicked, this, [this] { m_model.clearAll(); });

    auto* below = new CloseArea(column);
    below->setFixedHeight(400);
    below->onClick = [this] {
        if (m_model.onClose) m_model.onClose();
    };
    layout->addWidget(below);
    layout->addStretch(1);
    scroll->setWidget(column);

    auto* effect = new QGraphicsOpacityEffect(this);
    setGraphicsEffect(effect);
    auto* clockWork = new QTimer(this);
    clockWork->setInterval(1000);
    connect(clockWork, &QTimer::timeout, this, &NotificationShadeView::tick);
    clockWork->start();
    connect(&m_model, &NotificationShadeModel::changed, this, &NotificationShadeView::rebuild);
    tick();
    rebuild();
    if (parent) parent->installEventFilter(this); // covers the whole video area
    hide();
}

void NotificationShadeView::tick() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    m_time->setText(locale.toString(now.time(), QLocale::ShortFormat));
    m_date->setText(locale.toString(now.date(), u"ddd d MMM"_s));
}

void NotificationShadeView::rebuild() {
    while (QLayoutItem* item = m_cards->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<AndroidNotification>& notifications = m_model.notifications();
    if (notifications.isEmpty()) {
        auto* empty = new Card;
        empty->setObjectName(u"noNotifications"_s);
        auto* row = new QVBoxLayout(empty);
        row->setContentsMargins(14, 14, 14, 14);
        QLabel* text = label(empty, u"No notifications"_s, 13, QFont::Normal, true);
        text->setAlignment(Qt::AlignCenter);
        row->addWidget(text);
        m_cards->addWidget(empty);
    }
    for (const AndroidNotification& n : notifications) {
        auto* card = new Card;
        card->setObjectName(u"notificationCard"_s);
        card->setProperty("identity", n.identity());
        auto* rows = new QVBoxLayout(card);
        rows->setContentsMargins(14, 14, 14, 14);
        rows->setSpacing(4);
        rows->addWidget(label(card, u"▣  "_s + m_model.appName(), 11, QFont::DemiBold, true));
        if (!n.title.isEmpty()) rows->addWidget(label(card, n.title, 13, QFont::DemiBold, false));
        if (!n.text.isEmpty()) rows->addWidget(label(card, n.text, 12, QFont::Normal, true));
        m_cards->addWidget(card);
    }
    m_clearRow->setVisible(!notifications.isEmpty());
}

void NotificationShadeView::setMediaCard(QWidget* card) {
    delete m_mediaCard.data();
    m_mediaCard = card;
    if (card) m_mediaSlot->addWidget(card);
}

void NotificationShadeView::open() {
    m_closing = false;
    if (parentWidget()) setGeometry(parentWidget()->rect());
    auto* effect = static_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    effect->setOpacity(0);
    show();
    raise();
    auto* fade = new QPropertyAnimation(effect, "opacity", this);
    fade->setDuration(180);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void NotificationShadeView::close() {
    if (!isVisible() || m_closing) return;
    m_closing = true;
    auto* fade = new QPropertyAnimation(graphicsEffect(), "opacity", this);
    fade->setDuration(150);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, [this] {
        if (m_closing) hide();
        m_closing = false;
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void NotificationShadeView::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), QColor(0, 0, 0, 89)); // black at 35 %
}

void NotificationShadeView::mousePressEvent(QMouseEvent*) {
    if (m_model.onClose) m_model.onClose();
}

bool NotificationShadeView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}
