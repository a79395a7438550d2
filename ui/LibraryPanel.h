#pragma once

#include <QWidget>

class AppLibraryStore;
class QLabel;
class QLineEdit;
class QListWidget;

// The panel's launcher: the library as a list with search, the Android state and the status line.
// APK files dropped on it are added to the library. A view of the store: it keeps no state of its
// own and redraws whenever the store changes.
class LibraryPanel final : public QWidget {
    Q_OBJECT
public:
    explicit LibraryPanel(AppLibraryStore& store, QWidget* parent = nullptr);

Q_SIGNALS:
    void openRequested(const QUuid& id);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void rebuildList();
    void showEntryMenu(const QPoint& position);

    AppLibraryStore& m_store;
    QLineEdit* m_search = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_androidState = nullptr;
    QLabel* m_status = nullptr;
};

