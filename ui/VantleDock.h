#pragma once

#include "core/AppLibraryStore.h"

#include <QWidget>

class QLabel;

// The strip at the bottom of the panel: the running app when one runs, otherwise Android's state
// as a title and a subtitle. Follows the store.
class VantleDock final : public QWidget {
    Q_OBJECT
public:
    explicit VantleDock(const AppLibraryStore& store, QWidget* parent = nullptr);

    QString title() const;
    QString subtitle() const;

    // Room on the right for the panel's own buttons.
    void addTrailingWidget(QWidget* widget);

private:
    void follow();

    const AppLibraryStore& m_store;
    QLabel* m_mark;
    QLabel* m_title;
    QLabel* m_subtitle;
};
