#pragma once

#include <QList>
#include <QWidget>

class AppTile;
class QGridLayout;
class QLabel;

// A titled group of tiles in the launcher ("Favourites", "All apps", "Results"), laid out in a
// given number of columns. Owns its tiles.
class AppSection final : public QWidget {
    Q_OBJECT
public:
    AppSection(const QString& title, QList<AppTile*> tiles, int columns, QWidget* parent = nullptr);

    QString title() const;
    const QList<AppTile*>& tiles() const { return m_tiles; }
    int columns() const { return m_columns; }
    void setColumns(int columns);

private:
    QLabel* m_title;
    QGridLayout* m_grid;
    QWidget* m_gridHost = nullptr;
    QList<AppTile*> m_tiles;
    int m_columns = 0;
};
