#include "windows/NowPlayingPublisher.h"

#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

using namespace Qt::StringLiterals;

NowPlayingPublisher::NowPlayingPublisher(AndroidWindowRegistry& registry,
                                         std::unique_ptr<NowPlayingService> service, QObject* parent)
    : QObject(parent)
    , m_registry(registry)
    , m_service(std::move(service)) {
    m_service->onCommand = [this](NowPlayingService::Command command) { this->command(command); };
    EventCenter::shared().observe(VantleEvent::mediaChanged, this, [this](const QVariantMap&) { follow(); });
    follow();
}

void NowPlayingPublisher::follow() {
    const auto& record = m_registry.nowPlaying();
    const AndroidWindowSession* session = record ? m_registry.session(record->appID) : nullptr;
    if (!record || !session) {
        m_service->withdraw();
        return;
    }
    const NowPlayingService::Track track{session->title(), record->media.title, record->media.artist,
                                         record->media.playing};
    // Said once while it lasts: every poll's change would say it again.
    const bool published = m_service->publish(track);
    if (!published && !m_unavailable)
        VantleLog::main().write(u"media: the desktop's media controls are not available"_s);
    m_unavailable = !published;
}

void NowPlayingPublisher::command(NowPlayingService::Command command) {
    const auto& record = m_registry.nowPlaying();
    if (!record) return;
    // Android knows one key for both: Play and Pause reach here only when they change something.
    const MediaAction action = command == NowPlayingService::Command::next       ? MediaAction::next
                               : command == NowPlayingService::Command::previous ? MediaAction::previous
                                                                                 : MediaAction::playPause;
    m_registry.sendMediaKey(record->appID, action);
}
