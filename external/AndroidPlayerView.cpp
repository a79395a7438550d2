#include "external/AndroidPlayerView.h"

#include "external/AndroidMirrorModel.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {
QToolButton* headerButton(QWidget* parent, const QString& text, const QString& help) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(help);
    button->setAutoRaise(true);
    return button;
}
} // namespace

AndroidPlayerView::AndroidPlayerView(AndroidMirrorModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_model(model) {
    setObjectName(u"android-player"_s);
    setWindowTitle(u"Vantle Android"_s);
    auto* header = new QWidget(this);
    header->setFixedHeight(headerHeight);
    auto* back = headerButton(header, u"‹"_s, u"Back to app library"_s);
    m_pin = headerButton(header, u"Pin"_s, u"Keep window on top"_s);
    auto* minimise = headerButton(header, u"–"_s, u"Minimise"_s);
    auto* close = headerButton(header, u"✕"_s, u"Close"_s);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(6, 0, 6, 0);
    row->addWidget(back);
    row->addStretch();
    for (QToolButton* button : {m_pin, minimise, close})
        row->addWidget(button);
    connect(back, &QToolButton::clicked, this, [this] {
        if (onBackToLibrary) onBackToLibrary();
        QWidget::close();
    });
    connect(m_pin, &QToolButton::clicked, this, [this] { setPinned(!isPinned()); });
    connect(minimise, &QToolButton::clicked, this, &QWidget::showMinimized);
    connect(close, &QToolButton::clicked, this, &QWidget::close);

    m_screen = new QWidget(this);
    m_screen->setObjectName(u"screen"_s);
    m_screen->setMinimumSize(120, 200);
    m_screen->installEventFilter(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(m_screen, 1);
    connect(&m_model, &AndroidMirrorModel::frameChanged, m_screen, qOverload<>(&QWidget::update));
    connect(&m_model, &AndroidMirrorModel::statusChanged, m_screen, qOverload<>(&QWidget::update));
}

bool AndroidPlayerView::isPinned() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void AndroidPlayerView::setPinned(bool pinned) {
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, pinned); // hides the window
    m_pin->setToolTip(pinned ? u"Unpin window"_s : u"Keep window on top"_s);
    m_pin->setText(pinned ? u"Unpin"_s : u"Pin"_s);
    if (shown) show();
}

QRectF AndroidPlayerView::frameRect() const {
    const QSizeF area = m_screen->size();
    const QSizeF frame =
        m_model.frame() ? QSizeF(m_model.frame()->size()) : QSizeF(AndroidMirrorModel::deviceSize);
    const QSizeF shown = frame.scaled(area, Qt::KeepAspectRatio);
    return {QPointF((area.width() - shown.width()) / 2, (area.height() - shown.height()) / 2), shown};
}

void AndroidPlayerView::paintScreen() {
    QPainter painter(m_screen);
    painter.fillRect(m_screen->rect(), Qt::black);
    if (m_model.frame()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(frameRect(), *m_model.frame());
        return;
    }
    painter.setPen(Qt::white);
    painter.drawText(m_screen->rect(), Qt::AlignCenter, m_model.status());
}

bool AndroidPlayerView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_screen) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint:
        paintScreen();
        return true;
    case QEvent::MouseButtonPress:
        m_pressedAt = static_cast<QMouseEvent*>(event)->position();
        return true;
    case QEvent::MouseButtonRelease: {
        if (!m_pressedAt || !m_model.frame()) return true;
        const QRectF frame = frameRect();
        const QPointF from = *std::exchange(m_pressedAt, std::nullopt) - frame.topLeft();
        const QPointF to = static_cast<QMouseEvent*>(event)->position() - frame.topLeft();
        if ((to - from).manhattanLength() < dragThresholdPixels)
            m_model.tap(from, frame.size());
        else
            m_model.swipe(from, to, frame.size());
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void AndroidPlayerView::closeEvent(QCloseEvent* event) {
    m_model.stop();
    event->accept();
    if (onClosed) onClosed();
}
