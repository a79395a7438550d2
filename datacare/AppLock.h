#pragma once

#include "core/Models.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QRectF>
#include <QSet>
#include <QUuid>
#include <functional>

class DeviceOwnerAuthenticator;

// Locked apps ask for the device owner's authentication (on Linux the user's password) before
// their window shows, and before their lock is added or removed. A grace period after a successful
// authentication, a lock, or the app's window leaving the screen avoids asking twice in a row.
// One instance, made by the app; main thread only. Observable: `lockedIDsChanged` follows every
// change of the locked set (the settings page and the tiles bind to it), and so does the event
// "Vantle.sessionsChanged", which redraws lock badges.
class AppLock final : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 gracePeriodMs = 10'000;
    // The popup closes, then the prompt comes: it must not show behind the popup.
    static constexpr int promptDelayMs = 350;

    struct Seams {
        // Milliseconds on a monotonic clock; the default is the process's own.
        std::function<qint64()> nowMs;
    };

    explicit AppLock(DeviceOwnerAuthenticator& authenticator, Seams seams = {}, QObject* parent = nullptr);
    ~AppLock() override;

    // The stored set ("Vantle.lockedApps.v1"), read on every call; entries that are no UUID are skipped.
    static QSet<QUuid> lockedIDs();
    static bool isLocked(const QUuid& id) { return lockedIDs().contains(id); }

    bool needsUnlock(const QUuid& id) const;
    // Runs `then` at once when no unlock is needed, else only after a successful authentication.
    void unlockIfNeeded(const MobileApp& app, std::function<void()> then);
    // Brings the app's open window to the front through the lock.
    void show(const QUuid& appID);
    // Locks or unlocks the app after authentication.
    void toggle(const MobileApp& app);
    // Asks for the device owner's authentication with `reason`; `then` gets the answer.
    void authenticate(const QString& reason, std::function<void(bool success)> then);
    // The app's window left the screen (hidden or closed): the grace period starts for a locked app.
    void windowLeft(const QUuid& appID);

Q_SIGNALS:
    void lockedIDsChanged();

private:
    void storeLocked(const QSet<QUuid>& ids);
    void evaluate(const QString& reason, std::optional<QRectF> popupFrame, std::function<void(bool)> then);
    void finished(bool success, std::optional<QRectF> popupFrame, const std::function<void(bool)>& then);

    DeviceOwnerAuthenticator& m_authenticator;
    Seams m_seams;
    QElapsedTimer m_clock;
    QHash<QUuid, qint64> m_lastSeen; // app id → time of its last authentication, lock or leaving
};
