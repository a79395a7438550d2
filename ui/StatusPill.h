#pragma once

#include "core/AppLibraryStore.h"

#include <QWidget>

// Android's state as a small rounded label with a coloured dot ("Ready", "Starting", "Sleeping",
// "Set up"); the help text is its tool tip. Follows the store.
class StatusPill final : public QWidget {
    Q_OBJECT
public:
    explicit StatusPill(const AppLibraryStore& store, QWidget* parent = nullptr);

    QString label() const { return m_label; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    const AppLibraryStore& m_store;
    QString m_label;
};
