#include "ui/VantleDock.h"

#include "ui/LauncherRules.h"
#include "ui/PanelStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {
QPixmap stateDot(const QColor& colour) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1, 1, 10, 10));
    return pixmap;
}

// The play or pause symbol in the dock's text colour.
QIcon transportIcon(bool playing, const QColor& colour) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    if (playing) {
        painter.drawRoundedRect(QRectF(8, 6, 6, 20), 1.5, 1.5);
        painter.drawRoundedRect(QRectF(18, 6, 6, 20), 1.5, 1.5);
    } else {
        painter.drawPolygon(QPolygonF{QPointF(9, 5), QPointF(27, 16), QPointF(9, 27)});
    }
    return QIcon(pixmap);
}
} // namespace

VantleDock::VantleDock(const AppLibraryStore& store, QWidget* parent,
                       std::chrono::milliseconds slowStartAfter)
    : QWidget(parent)
    , m_store(store)
    , m_mark(new QLabel)
    , m_title(new QLabel)
    , m_subtitle(new QLabel)
    , m_playPause(new QToolButton)
    , m_slowStart(new QTimer(this)) {
    m_slowStart->setSingleShot(true);
    m_slowStart->setInterval(slowStartAfter);
    connect(m_slowStart, &QTimer::timeout, this, &VantleDock::follow);
    setObjectName(u"dock"_s);
    setAttribute(Qt::WA_StyledBackground);
    m_title->setObjectName(u"dockTitle"_s);
    m_subtitle->setObjectName(u"dockSubtitle"_s);
    m_subtitle->setWordWrap(true);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 10, 8, 10);
    row->setSpacing(10);
    row->addWidget(m_mark, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    m_playPause->setObjectName(u"dockPlayPause"_s);
    m_playPause->setAutoRaise(true);
    m_playPause->setIconSize(QSize(16, 16));
    connect(m_playPause, &QToolButton::clicked, this, [this] {
        if (onMedia && m_store.nowPlayingAppID()) onMedia(*m_store.nowPlayingAppID(), MediaAction::playPause);
    });
    row->addWidget(m_playPause, 0, Qt::AlignVCenter);
    for (auto changed : {&AppLibraryStore::androidStateChanged, &AppLibraryStore::runningAppIDsChanged,
                         &AppLibraryStore::appsChanged, &AppLibraryStore::nowPlayingChanged,
                         &AppLibraryStore::nowPlayingAppIDChanged})
        connect(&m_store, changed, this, &VantleDock::follow);
    follow();
}

QString VantleDock::title() const {
    return m_title->text();
}
QString VantleDock::subtitle() const {
    return m_subtitle->text();
}

void VantleDock::addTrailingWidget(QWidget* widget) {
    static_cast<QHBoxLayout*>(layout())->addWidget(widget, 0, Qt::AlignVCenter);
}

void VantleDock::follow() {
    const bool starting = m_store.androidState() == AndroidState::starting;
    if (starting && !m_starting) m_slowStart->start();
    if (!starting) m_slowStart->stop();
    m_starting = starting;
    const LauncherRules::StartPace pace = starting && !m_slowStart->isActive()
                                              ? LauncherRules::StartPace::slow
                                              : LauncherRules::StartPace::usual;
    // The running app in the panel's own order, so the same app stays shown while others open;
    // the one that plays goes first.
    QList<MobileApp> running;
    for (const MobileApp& app : m_store.orderedApps())
        if (m_store.runningAppIDs().contains(app.id)) running.append(app);
    const std::optional<QUuid> playingID = m_store.nowPlayingAppID();
    const auto playing = std::find_if(running.begin(), running.end(),
                                      [&](const MobileApp& app) { return playingID == app.id; });
    const bool showsMedia = playing != running.end() && m_store.nowPlaying();
    if (showsMedia) std::rotate(running.begin(), playing, playing + 1);
    m_playPause->setVisible(showsMedia);
    if (showsMedia) {
        const AndroidMedia& media = *m_store.nowPlaying();
        m_mark->setPixmap(stateDot(PanelStyle::stateColour(int(AndroidState::ready))));
        m_title->setText(running.first().displayName());
        m_subtitle->setText(media.artist.isEmpty() ? media.title : media.title + u" · "_s + media.artist);
        m_playPause->setIcon(transportIcon(media.playing, palette().color(QPalette::WindowText)));
        m_playPause->setToolTip(media.playing ? u"Pause"_s : u"Play"_s);
        return;
    }
    if (!running.isEmpty()) {
        m_mark->setPixmap(stateDot(PanelStyle::stateColour(int(AndroidState::ready))));
        m_title->setText(running.first().displayName());
        m_subtitle->setText(running.size() == 1 ? u"Running in its own window"_s
                                                : u"Running, with %1 more open"_s.arg(running.size() - 1));
        return;
    }
    const auto text = LauncherRules::describe(m_store.androidState(), pace);
    m_mark->setPixmap(stateDot(PanelStyle::stateColour(int(m_store.androidState()))));
    m_title->setText(text.dockTitle);
    m_subtitle->setText(text.dockSubtitle);
}
