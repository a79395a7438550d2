#include "ui/AppSection.h"

#include "ui/AppTile.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

AppSection::AppSection(const QString& title, QList<AppTile*> tiles, int columns, QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(title.toUpper()))
    , m_grid(new QGridLayout)
    , m_tiles(std::move(tiles)) {
    setObjectName(u"section"_s);
    m_title->setObjectName(u"sectionTitle"_s);
    m_title->setAccessibleName(title);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setHorizontalSpacing(8);
    m_grid->setVerticalSpacing(6);
    // The grid is as wide as its full rows, so a short section lines up with a long one.
    m_gridHost = new QWidget;
    m_gridHost->setLayout(m_grid);
    m_grid->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* centred = new QHBoxLayout;
    centred->addStretch();
    centred->addWidget(m_gridHost);
    centred->addStretch();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(m_title);
    column->addLayout(centred);
    for (AppTile* tile : m_tiles)
        tile->setParent(this);
    setColumns(columns);
}

QString AppSection::title() const {
    return m_title->accessibleName();
}

void AppSection::setColumns(int columns) {
    if (columns == m_columns) return;
    m_columns = columns;
    for (AppTile* tile : m_tiles)
        m_grid->removeWidget(tile);
    for (qsizetype i = 0; i < m_tiles.size(); ++i)
        m_grid->addWidget(m_tiles[i], int(i / columns), int(i % columns));
    m_gridHost->setFixedWidth(columns * AppTile::tileSize.width() +
                              (columns - 1) * m_grid->horizontalSpacing());
}
