#pragma once

#include "integrations/AndroidNotifications.h"

#include <QObject>
#include <QSet>
#include <functional>

// What one window's notification shade lists. The cleared set lives as long as the window: a
// cleared notification stays out of the shade although later polls still report it. GUI thread.
class NotificationShadeModel final : public QObject {
    Q_OBJECT
public:
    explicit NotificationShadeModel(QObject* parent = nullptr)
        : QObject(parent) {}

    const QList<AndroidNotification>& notifications() const { return m_notifications; }
    // Lists `shown` without what the user cleared.
    void setShown(const QList<AndroidNotification>& shown);
    const QString& appName() const { return m_appName; }
    void setAppName(const QString& name);
    const QSet<QString>& dismissed() const { return m_dismissed; }

    void clearAll();

    std::function<void()> onClose; // closes the shade (set by the window)

Q_SIGNALS:
    void changed();

private:
    QList<AndroidNotification> m_notifications;
    QString m_appName;
    QSet<QString> m_dismissed; // identities
};
