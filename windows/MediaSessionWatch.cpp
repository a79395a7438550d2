#include "windows/MediaSessionWatch.h"

#include "integrations/AndroidMediaSessions.h"
#include "runtime/AndroidRuntimeCLI.h"

#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

MediaSessionWatch::MediaSessionWatch(QString package, Reader reader, QObject* parent)
    : QObject(parent)
    , m_package(std::move(package))
    , m_reader(std::move(reader))
    , m_timer(new QTimer(this)) {
    if (!m_reader)
        m_reader = [] { return AndroidRuntimeCLI::runADB({u"shell"_s, u"dumpsys"_s, u"media_session"_s}); };
    m_timer->setInterval(pollIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &MediaSessionWatch::poll);
}

void MediaSessionWatch::start() {
    m_stopped = false;
    m_timer->start();
    poll();
}

void MediaSessionWatch::stop() {
    m_stopped = true;
    m_again = false;
    m_timer->stop();
}

void MediaSessionWatch::poll() {
    if (m_stopped) return;
    if (m_inFlight) {
        m_again = true;
        return;
    }
    read();
}

void MediaSessionWatch::read() {
    m_inFlight = true;
    // Only the reader and the package cross into the pool; only the parsed value comes back.
    QtConcurrent::run(&AndroidRuntimeCLI::pool(), [reader = m_reader, package = m_package] {
        // A failed read is no media: indistinguishable from nothing playing.
        return AndroidMediaSessions::parse(reader().value_or(QString()), package);
    }).then(this, [this](const std::optional<AndroidMedia>& media) { received(media); });
}

void MediaSessionWatch::received(const std::optional<AndroidMedia>& media) {
    m_inFlight = false;
    if (m_stopped) return;
    if (media != m_media) {
        const std::optional<AndroidMedia> before = std::exchange(m_media, media);
        if (onChanged) onChanged(m_media, before);
    }
    if (std::exchange(m_again, false)) read();
}
