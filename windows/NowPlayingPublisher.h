#pragma once

#include "platform/NowPlayingService.h"

#include <QObject>
#include <memory>

class AndroidWindowRegistry;

// Shows the registry's now-playing record to the desktop (NowPlayingService) while there is one,
// and turns the desktop's controls into media keys for the window of the app that plays. GUI
// thread only; created once by the app (and by tests, with a registry and service of their own).
class NowPlayingPublisher final : public QObject {
    Q_OBJECT
public:
    NowPlayingPublisher(AndroidWindowRegistry& registry, std::unique_ptr<NowPlayingService> service,
                        QObject* parent = nullptr);

    NowPlayingService& service() const { return *m_service; }

private:
    void follow();
    void command(NowPlayingService::Command command);

    AndroidWindowRegistry& m_registry;
    std::unique_ptr<NowPlayingService> m_service;
    bool m_unavailable = false; // the last publish failed (and said so)
};
