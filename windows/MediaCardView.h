#pragma once

#include "core/AndroidMedia.h"

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QTimer;
class QToolButton;

// The now-playing card of a window's notification shade: the app's name (with a moving waveform
// while it plays), the title, the artist, and previous, play/pause and next. It shows only while
// it has media (when embedded). Colours follow the palette, so the card is right in light and dark. GUI
// thread.
class MediaCardView final : public QWidget {
    Q_OBJECT
public:
    explicit MediaCardView(QWidget* parent = nullptr);

    void setAppName(const QString& name);
    void setMedia(const std::optional<AndroidMedia>& media);
    const std::optional<AndroidMedia>& media() const { return m_media; }

    // A control was pressed; wired by the window to its media-key sender.
    std::function<void(MediaAction action)> onMedia;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void drawGlyphs();
    QToolButton* control(const QString& name, MediaAction action, int glyphSize);

    std::optional<AndroidMedia> m_media;
    QString m_appName;
    QLabel* m_note;
    QLabel* m_app;
    QLabel* m_waveform;
    QLabel* m_title;
    QLabel* m_artist;
    QToolButton* m_previous;
    QToolButton* m_playPause;
    QToolButton* m_next;
    QTimer* m_wave; // moves the waveform while playing
    int m_wavePhase = 0;
};
