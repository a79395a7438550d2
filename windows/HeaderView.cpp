#include "windows/HeaderView.h"

#include "windows/BellGlyph.h"
#include "windows/CameraGlyph.h"
#include "windows/PadlockGlyph.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

using namespace Qt::StringLiterals;

HeaderView::HeaderView(const QString& title, QWidget* parent)
    : QWidget(parent) {
    setFixedHeight(height);
    setObjectName(u"header"_s);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->setSpacing(1); // nine 28-point buttons still fit the narrowest window (280)

    QToolButton* home = addButton(u"home"_s, u"⊞"_s, u"Vantle apps"_s);
    QToolButton* back = addButton(u"back"_s, u"‹"_s, u"Android Back (Esc / right-click)"_s);
    m_title = new QLabel(title, this);
    m_title->setObjectName(u"title"_s);
    m_title->setAlignment(Qt::AlignCenter);
    QFont font = m_title->font();
    font.setBold(true);
    m_title->setFont(font);
    m_title->setAttribute(Qt::WA_TransparentForMouseEvents); // drags on the title move the window
    // The title takes what the buttons leave: a long one must not make the window wider than its minimum.
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QToolButton* shade = addButton(u"notifications"_s, QString(), u"Notifications"_s);
    shade->setIcon(BellGlyph::icon(16, palette().color(QPalette::WindowText)));
    shade->setAccessibleName(u"Notifications"_s);
    m_capture = addButton(u"capture"_s, QString(), u"Screenshot / screen recording"_s);
    m_capture->setAccessibleName(u"Capture"_s);
    m_lock = addButton(u"lock"_s, QString(), QString());
    m_lock->setIconSize(QSize(18, 18));
    m_pin = addButton(u"pin"_s, u"⚲"_s, u"Pin on top (keeps the window open)"_s);
    m_pin->setAccessibleName(u"Pin"_s);
    m_pin->setCheckable(true);
    QToolButton* size = addButton(u"size"_s, u"⤢"_s, u"Window size"_s);
    QToolButton* hide = addButton(u"hide"_s, u"–"_s, u"Hide"_s);
    QToolButton* close = addButton(u"close"_s, u"✕"_s, u"Close app"_s);

    layout->addWidget(home);
    layout->addWidget(back);
    layout->addWidget(m_title, 1);
    for (QToolButton* button : {shade, m_capture, m_lock, m_pin, size, hide, close})
        layout->addWidget(button);

    const auto call = [](const std::function<void()>& action) {
        if (action) action();
    };
    connect(home, &QToolButton::clicked, this, [this, call] { call(onHome); });
    connect(back, &QToolButton::clicked, this, [this, call] { call(onBack); });
    connect(shade, &QToolButton::clicked, this, [this, call] { call(onShade); });
    connect(m_lock, &QToolButton::clicked, this, [this, call] { call(onLock); });
    connect(m_pin, &QToolButton::clicked, this, [this, call] { call(onPin); });
    connect(hide, &QToolButton::clicked, this, [this, call] { call(onHide); });
    connect(close, &QToolButton::clicked, this, [this, call] { call(onClose); });
    connect(size, &QToolButton::clicked, this, [this, size] {
        if (onSize) onSize(size);
    });
    connect(m_capture, &QToolButton::clicked, this, [this] {
        if (onCapture) onCapture(m_capture);
    });
    setPinned(false);
    setRecording(false);
    setLocked(false);
}

QToolButton* HeaderView::addButton(const QString& objectName, const QString& glyph, const QString& toolTip) {
    auto* button = new QToolButton(this);
    button->setObjectName(objectName);
    button->setText(glyph);
    button->setToolTip(toolTip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus); // keys stay with the video view
    button->setFixedSize(28, 28);
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    button->setFont(font);
    return button;
}

QToolButton* HeaderView::button(const QString& objectName) const {
    return findChild<QToolButton*>(objectName);
}

void HeaderView::setPinned(bool pinned) {
    QPalette palette = m_pin->palette();
    palette.setColor(QPalette::ButtonText,
                     pinned ? palette.color(QPalette::Highlight) : palette.color(QPalette::PlaceholderText));
    m_pin->setPalette(palette);
    m_pin->setChecked(pinned);
}

void HeaderView::setLocked(bool locked) {
    using PadlockGlyph::Shackle;
    m_lock->setIcon(
        PadlockGlyph::icon(18, palette().color(locked ? QPalette::Highlight : QPalette::PlaceholderText),
                           locked ? Shackle::closed : Shackle::open));
    m_lock->setToolTip(locked ? u"Remove the password lock"_s : u"Lock this app with a password"_s);
    m_lock->setAccessibleName(locked ? u"Locked"_s : u"Lock"_s);
}

void HeaderView::setRecording(bool recording) {
    m_capture->setIcon(recording ? CameraGlyph::recording(16, CameraGlyph::recordingRed)
                                 : CameraGlyph::camera(16, palette().color(QPalette::PlaceholderText)));
    m_capture->setProperty("recording", recording);
}

void HeaderView::mousePressEvent(QMouseEvent* event) {
    // The window has no frame: the header is its title bar.
    if (event->button() == Qt::LeftButton && window()->windowHandle())
        window()->windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

void HeaderView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(rect().bottomLeft(), rect().bottomRight());
}
