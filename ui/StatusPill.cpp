#include "ui/StatusPill.h"

#include "ui/LauncherRules.h"
#include "ui/PanelStyle.h"

#include <QPainter>

namespace {
constexpr int dotSide = 8, padding = 10, spacing = 6, pillHeight = 24;
}

StatusPill::StatusPill(const AppLibraryStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store) {
    setObjectName(QStringLiteral("statusPill"));
    connect(&m_store, &AppLibraryStore::androidStateChanged, this, &StatusPill::follow);
    follow();
}

void StatusPill::follow() {
    const auto text = LauncherRules::describe(m_store.androidState());
    m_label = text.pillLabel;
    setToolTip(text.pillHelp);
    setAccessibleName(text.pillLabel);
    setAccessibleDescription(text.pillHelp);
    updateGeometry();
    update();
}

QSize StatusPill::sizeHint() const {
    QFont bold = font();
    bold.setWeight(QFont::DemiBold);
    return {padding + dotSide + spacing + QFontMetrics(bold).horizontalAdvance(m_label) + padding,
            pillHeight};
}

void StatusPill::paintEvent(QPaintEvent*) {
    const auto colours = PanelStyle::colours();
    const QColor state = PanelStyle::stateColour(int(m_store.androidState()));
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF pill = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = state;
    fill.setAlpha(colours.dark ? 60 : 38);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(pill, pill.height() / 2, pill.height() / 2);
    painter.setBrush(state);
    painter.drawEllipse(QRectF(padding, (pillHeight - dotSide) / 2.0, dotSide, dotSide));
    QFont bold = font();
    bold.setWeight(QFont::DemiBold);
    painter.setFont(bold);
    painter.setPen(colours.text);
    painter.drawText(QRectF(padding + dotSide + spacing, 0, width(), pillHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, m_label);
}
