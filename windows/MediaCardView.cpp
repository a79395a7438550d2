#include "windows/MediaCardView.h"

#include "windows/GlyphCanvas.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr int cornerRadius = 22;
constexpr int padding = 16;
constexpr int controlFrame = 36;

enum class Glyph { note, backward, play, pause, forward };

// The transport symbols, drawn in the text colour so that they follow light and dark.
QPixmap glyph(Glyph kind, int size, const QColor& colour, qreal ratio) {
    QPixmap pixmap = glyphCanvas(size, ratio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const qreal s = size;
    const auto triangle = [&](qreal left, qreal right) { // pointing from left to right
        painter.drawPolygon(
            QPolygonF{QPointF(left, s * 0.2), QPointF(right, s * 0.5), QPointF(left, s * 0.8)});
    };
    switch (kind) {
    case Glyph::note:
        painter.drawEllipse(QRectF(s * 0.12, s * 0.62, s * 0.34, s * 0.28));
        painter.drawEllipse(QRectF(s * 0.56, s * 0.52, s * 0.34, s * 0.28));
        painter.drawRect(QRectF(s * 0.38, s * 0.14, s * 0.08, s * 0.62));
        painter.drawRect(QRectF(s * 0.82, s * 0.06, s * 0.08, s * 0.62));
        painter.drawPolygon(QPolygonF{QPointF(s * 0.38, s * 0.14), QPointF(s * 0.9, s * 0.04),
                                      QPointF(s * 0.9, s * 0.18), QPointF(s * 0.38, s * 0.28)});
        break;
    case Glyph::play:
        triangle(s * 0.22, s * 0.86);
        break;
    case Glyph::pause:
        painter.drawRoundedRect(QRectF(s * 0.22, s * 0.18, s * 0.2, s * 0.64), s * 0.04, s * 0.04);
        painter.drawRoundedRect(QRectF(s * 0.58, s * 0.18, s * 0.2, s * 0.64), s * 0.04, s * 0.04);
        break;
    case Glyph::forward:
        triangle(s * 0.06, s * 0.5);
        triangle(s * 0.5, s * 0.94);
        break;
    case Glyph::backward:
        painter.translate(s, 0);
        painter.scale(-1, 1);
        triangle(s * 0.06, s * 0.5);
        triangle(s * 0.5, s * 0.94);
        break;
    }
    return pixmap;
}

// Five bars whose heights move with the phase: the "playing" mark beside the app's name.
QPixmap waveform(int phase, const QColor& colour, qreal ratio) {
    constexpr int size = 14;
    QPixmap pixmap = glyphCanvas(size, ratio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int bar = 0; bar < 5; ++bar) {
        const double level = 0.35 + 0.65 * std::abs(std::sin((phase + bar * 2) * 0.6));
        QColor shade = colour;
        shade.setAlphaF(0.45 + 0.55 * level); // the variable colour of the effect
        painter.setBrush(shade);
        const double height = size * level;
        painter.drawRoundedRect(QRectF(1 + bar * 2.6, (size - height) / 2, 1.8, height), 0.9, 0.9);
    }
    return pixmap;
}

QFont sized(QFont font, int points, bool bold = false) {
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

} // namespace

MediaCardView::MediaCardView(QWidget* parent)
    : QWidget(parent)
    , m_note(new QLabel)
    , m_app(new QLabel)
    , m_waveform(new QLabel)
    , m_title(new QLabel)
    , m_artist(new QLabel)
    , m_wave(new QTimer(this)) {
    setObjectName(u"mediaCard"_s);
    setAttribute(Qt::WA_TranslucentBackground);
    m_app->setObjectName(u"mediaApp"_s);
    m_app->setFont(sized(font(), 11));
    m_waveform->setObjectName(u"mediaWaveform"_s);
    m_title->setObjectName(u"mediaTitle"_s);
    m_title->setFont(sized(font(), 15, true));
    m_artist->setObjectName(u"mediaArtist"_s);
    m_artist->setFont(sized(font(), 12));
    for (QLabel* line : {m_title, m_artist}) {
        line->setTextFormat(Qt::PlainText); // an app's title is text, never markup
        line->setMinimumWidth(1);           // elided to the card's width, one line each
    }
    m_app->setTextFormat(Qt::PlainText);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(m_note);
    header->addWidget(m_app, 1);
    header->addWidget(m_waveform);
    auto* controls = new QHBoxLayout;
    controls->setSpacing(12);
    m_previous = control(u"previous"_s, MediaAction::previous, 18);
    m_playPause = control(u"playPause"_s, MediaAction::playPause, 24);
    m_next = control(u"next"_s, MediaAction::next, 18);
    for (QToolButton* button : {m_previous, m_playPause, m_next})
        controls->addWidget(button);
    controls->addStretch(1);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(padding, padding, padding, padding);
    rows->setSpacing(4);
    rows->addLayout(header);
    rows->addWidget(m_title);
    rows->addWidget(m_artist);
    rows->addLayout(controls);

    m_wave->setInterval(120);
    connect(m_wave, &QTimer::timeout, this, [this] {
        ++m_wavePhase;
        m_waveform->setPixmap(
            waveform(m_wavePhase, palette().color(QPalette::Highlight), devicePixelRatioF()));
    });
    refresh();
}

QToolButton* MediaCardView::control(const QString& name, MediaAction action, int glyphSize) {
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setFixedSize(controlFrame, controlFrame);
    button->setIconSize(QSize(glyphSize, glyphSize));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QToolButton::clicked, this, [this, action] {
        if (onMedia) onMedia(action);
    });
    return button;
}

void MediaCardView::setAppName(const QString& name) {
    m_appName = name;
    refresh();
}

void MediaCardView::setMedia(const std::optional<AndroidMedia>& media) {
    if (media == m_media) return;
    m_media = media;
    refresh();
}

void MediaCardView::refresh() {
    // Embedded, the card shows only while there is media; a card of its own is shown by its maker.
    if (parentWidget()) setVisible(m_media.has_value());
    const bool playing = m_media && m_media->playing;
    m_app->setText(m_appName);
    m_artist->setVisible(m_media && !m_media->artist.isEmpty());
    m_waveform->setVisible(playing);
    if (playing && !m_wave->isActive()) m_wave->start();
    if (!playing) m_wave->stop();
    m_previous->setToolTip(u"Previous"_s);
    m_playPause->setToolTip(playing ? u"Pause"_s : u"Play"_s);
    m_next->setToolTip(u"Next"_s);
    for (QToolButton* button : {m_previous, m_playPause, m_next})
        button->setAccessibleName(button->toolTip());
    drawGlyphs();
    // The texts are elided to the width there is, so each stays on one line.
    const int width = std::max(1, this->width() - 2 * padding);
    const QString title = m_media ? m_media->title : QString();
    const QString artist = m_media ? m_media->artist : QString();
    m_title->setText(m_title->fontMetrics().elidedText(title, Qt::ElideRight, width));
    m_artist->setText(m_artist->fontMetrics().elidedText(artist, Qt::ElideRight, width));
    m_title->setToolTip(title);
}

void MediaCardView::drawGlyphs() {
    const QColor text = palette().color(QPalette::WindowText);
    const qreal ratio = devicePixelRatioF();
    const bool playing = m_media && m_media->playing;
    m_note->setPixmap(glyph(Glyph::note, 12, text, ratio));
    m_previous->setIcon(glyph(Glyph::backward, 18, text, ratio));
    m_playPause->setIcon(glyph(playing ? Glyph::pause : Glyph::play, 24, text, ratio));
    m_next->setIcon(glyph(Glyph::forward, 18, text, ratio));
    m_waveform->setPixmap(waveform(m_wavePhase, palette().color(QPalette::Highlight), ratio));
}

void MediaCardView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    // The material: the window colour, slightly see-through, under the accent-to-purple wash.
    QColor material = QApplication::palette(this).color(QPalette::Window); // not the video's black
    material.setAlphaF(0.92);
    painter.fillPath(shape, material);
    QLinearGradient wash(rect().topLeft(), rect().bottomRight());
    QColor accent = palette().color(QPalette::Highlight);
    accent.setAlphaF(0.35);
    QColor purple(0xAF, 0x52, 0xDE);
    purple.setAlphaF(0.25);
    wash.setColorAt(0, accent);
    wash.setColorAt(1, purple);
    painter.fillPath(shape, wash);
}

void MediaCardView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

void MediaCardView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) drawGlyphs();
}
