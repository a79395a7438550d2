#pragma once

#include "core/AppLibraryStore.h"
#include "ui/LauncherRules.h"

#include <QWidget>
#include <chrono>

class QLabel;
class QTimer;
class QToolButton;

// The strip at the bottom of the panel: the running app when one runs (the one that plays media,
// with what it plays and a play/pause button, when it has a window), otherwise Android's state as
// a title and a subtitle. Follows the store.
class VantleDock final : public QWidget {
    Q_OBJECT
public:
    // `slowStartAfter`: how long a start of Android may take before it reads as slow.
    explicit VantleDock(const AppLibraryStore& store, QWidget* parent = nullptr,
                        std::chrono::milliseconds slowStartAfter = LauncherRules::slowStart);

    QString title() const;
    QString subtitle() const;

    // Room on the right for the panel's own buttons.
    void addTrailingWidget(QWidget* widget);

    // The play/pause button was pressed for the now-playing app.
    std::function<void(const QUuid& appID, MediaAction action)> onMedia;

private:
    void follow();

    const AppLibraryStore& m_store;
    QLabel* m_mark;
    QLabel* m_title;
    QLabel* m_subtitle;
    QToolButton* m_playPause;
    // Started when Android's state becomes `starting`; once it has fired, the start reads as slow.
    QTimer* m_slowStart;
    bool m_starting = false;
};
