#pragma once

#include "external/AndroidDisplaySession.h"

#include <QHash>
#include <QSizeF>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

// The external-window mode's sessions: at most one running client per library entry. Only running
// sessions are kept; a session leaves when its client ends. Main thread only.
class AndroidSessionRegistry final {
public:
    using ExitHandler = std::function<void(std::optional<QString> error)>;

    AndroidSessionRegistry() = default;
    AndroidSessionRegistry(const AndroidSessionRegistry&) = delete;
    AndroidSessionRegistry& operator=(const AndroidSessionRegistry&) = delete;

    // The application's registry.
    static AndroidSessionRegistry& shared();

    // Starts a client for the app in a window of `size` points (or returns the one that already
    // runs for it). `onExit` hears the end of the client: none for a clean end, else why. Throws
    // AndroidBridgeError when there is no usable client, std::runtime_error when it does not start.
    AndroidDisplaySession& open(const QUuid& appID, const QString& package, const QString& title,
                                const QString& serial, const QString& adb, QSizeF size, ExitHandler onExit);
    // The app's session while its client runs, else nothing.
    AndroidDisplaySession* runningSession(const QUuid& appID) const;
    QList<QUuid> appIDs() const { return m_sessions.keys(); }
    // Ends every client without telling anyone; for quitting.
    void endAll() { m_sessions.clear(); }

private:
    void ended(AndroidDisplaySession* session, const ExitHandler& onExit, std::optional<QString> error);

    QHash<QUuid, std::shared_ptr<AndroidDisplaySession>> m_sessions;
};
