#include "ui/VantleDock.h"

#include "ui/LauncherRules.h"
#include "ui/PanelStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
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
} // namespace

VantleDock::VantleDock(const AppLibraryStore& store, QWidget* parent,
                       std::chrono::milliseconds slowStartAfter)
    : QWidget(parent)
    , m_store(store)
    , m_mark(new QLabel)
    , m_title(new QLabel)
    , m_subtitle(new QLabel)
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
    for (auto changed : {&AppLibraryStore::androidStateChanged, &AppLibraryStore::runningAppIDsChanged,
                         &AppLibraryStore::appsChanged})
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
    // The running app in the panel's own order, so the same app stays shown while others open.
    QList<MobileApp> running;
    for (const MobileApp& app : m_store.orderedApps())
        if (m_store.runningAppIDs().contains(app.id)) running.append(app);
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
