#pragma once

#include "integrations/AndroidNotifications.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <chrono>
#include <functional>
#include <optional>

// What one app window has seen of Android's notifications, and which new one it announces. Pure
// state (no timers, no I/O): the window session feeds it each poll's list and shows what it says.
// Lives as long as the window; a new window starts from nothing and primes anew.
class NotificationWatch {
public:
    using Clock = std::chrono::steady_clock;
    // The time source; tests step it instead of waiting.
    using Now = std::function<Clock::time_point()>;

    // A key announced less than this long ago is not announced again.
    static constexpr std::chrono::seconds keyQuietPeriod{30};

    explicit NotificationWatch(Now now = &Clock::now);

    struct Outcome {
        // What the shade lists: neither ongoing nor media, in the poll's order (before the shade's
        // own cleared set is applied).
        QList<AndroidNotification> shown;
        // At most one new notification per poll; none on the first poll.
        std::optional<AndroidNotification> announce;
    };
    Outcome handle(const QList<AndroidNotification>& list);

    // The announcement of a locked app: its title and "New notification", nothing of the message.
    static AndroidNotification lockedStandIn(const AndroidNotification& n, const QString& appTitle);

    bool primed() const { return m_primed; }

private:
    Now m_now;
    QSet<QString> m_seen; // identities seen by any poll of this window
    bool m_primed = false;
    QHash<QString, Clock::time_point> m_lastBannerByKey;
};
