#include "integrations/NotificationShadeModel.h"

void NotificationShadeModel::setShown(const QList<AndroidNotification>& shown) {
    QList<AndroidNotification> listed;
    for (const AndroidNotification& n : shown)
        if (!m_dismissed.contains(n.identity())) listed.append(n);
    if (listed == m_notifications) return;
    m_notifications = listed;
    Q_EMIT changed();
}

void NotificationShadeModel::setAppName(const QString& name) {
    if (name == m_appName) return;
    m_appName = name;
    Q_EMIT changed();
}

void NotificationShadeModel::clearAll() {
    for (const AndroidNotification& n : m_notifications)
        m_dismissed.insert(n.identity());
    if (m_notifications.isEmpty()) return;
    m_notifications.clear();
    Q_EMIT changed();
}
