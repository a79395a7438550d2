#include "integrations/NotificationWatch.h"

using namespace Qt::StringLiterals;

NotificationWatch::NotificationWatch(Now now)
    : m_now(std::move(now)) {}

NotificationWatch::Outcome NotificationWatch::handle(const QList<AndroidNotification>& list) {
    Outcome outcome;
    QList<AndroidNotification> fresh;
    for (const AndroidNotification& n : list) {
        if (n.ongoing || n.isMedia) continue;
        outcome.shown.append(n);
        if (!m_seen.contains(n.identity())) fresh.append(n);
    }
    // Ongoing and media notifications count as seen too: they never become announcements later.
    for (const AndroidNotification& n : list)
        m_seen.insert(n.identity());
    // What was already there when the window opened is not news.
    if (!m_primed) {
        m_primed = true;
        return outcome;
    }
    const Clock::time_point now = m_now();
    // The newest first (the dump lists newer records later), and one key at most every 30 s.
    for (auto n = fresh.crbegin(); n != fresh.crend(); ++n) {
        const auto last = m_lastBannerByKey.constFind(n->key);
        if (last != m_lastBannerByKey.cend() && now - *last <= keyQuietPeriod) continue;
        m_lastBannerByKey.insert(n->key, now);
        outcome.announce = *n;
        break;
    }
    return outcome;
}

AndroidNotification NotificationWatch::lockedStandIn(const AndroidNotification& n, const QString& appTitle) {
    return {n.key, n.package, appTitle, u"New notification"_s, false, false};
}
