#pragma once

#include "core/AndroidMedia.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QTimer;

// Follows one app's media session: reads `dumpsys media_session` every `pollIntervalMs` (and when
// asked) on the Android pool and reports each change of what the app plays to its owner. One read
// is in flight at a time; a poll asked for meanwhile runs once it has finished, so a state that
// follows a media key is never answered by a read that started before the key. GUI thread only;
// owned by the window session, and a read that ends after the watch is gone is dropped.
class MediaSessionWatch final : public QObject {
    Q_OBJECT
public:
    static constexpr int pollIntervalMs = 3000;

    // Reads the dump; blocking, run on the Android pool. Nothing when adb failed.
    using Reader = std::function<std::optional<QString>()>;

    // Without a reader the device's own dump is read through adb.
    explicit MediaSessionWatch(QString package, Reader reader = {}, QObject* parent = nullptr);

    // Polls now and then every pollIntervalMs, until stop().
    void start();
    void stop();
    void poll();

    const std::optional<AndroidMedia>& media() const { return m_media; }
    // The media changed (present versus absent, title, artist or playing): the new value, the old one.
    std::function<void(const std::optional<AndroidMedia>& media, const std::optional<AndroidMedia>& before)>
        onChanged;

private:
    void read();
    void received(const std::optional<AndroidMedia>& media);

    const QString m_package;
    Reader m_reader;
    QTimer* m_timer;
    std::optional<AndroidMedia> m_media;
    bool m_inFlight = false;
    bool m_again = false; // a poll was asked for while one was in flight
    bool m_stopped = false;
};
