// The notification watch of an app window: polls Android's notification dump every 3 s while the
// window lives, lists what it finds in the shade and announces at most one new notification per
// poll (a banner when the window is visible, else an unread mark and a desktop notification).
#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "integrations/NotificationShadeModel.h"
#include "integrations/Notifier.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowSession.h"
#include "windows/NotificationBannerView.h"
#include "windows/NotificationShadeView.h"

#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

void AndroidWindowSession::startNotificationWatch() {
    if (!VantleSettings::get(SettingsKeys::notifications) || m_notifyTimer) return;
    // Owned by the session: the timer and its polls end with it.
    m_notifyTimer = new QTimer(this);
    m_notifyTimer->setInterval(notificationPollMs);
    connect(m_notifyTimer, &QTimer::timeout, this, &AndroidWindowSession::pollNotifications);
    m_notifyTimer->start();
    pollNotifications();
}

void AndroidWindowSession::pollNotifications() {
    if (m_pollingNotifications || m_closing) return;
    m_pollingNotifications = true;
    const bool allPackages = VantleSettings::get(SettingsKeys::notifyAllPackages);
    // Only the package and the flag go to the pool, only the parsed list comes back; a window that
    // is gone by then drops it (the continuation's context).
    QtConcurrent::run(&AndroidRuntimeCLI::pool(), [package = m_setup.package, allPackages] {
        const QString dump =
            AndroidRuntimeCLI::runADB({u"shell"_s, u"dumpsys"_s, u"notification"_s, u"--noredact"_s})
                .value_or(QString());
        return AndroidNotifications::forPackage(AndroidNotifications::parse(dump), package, allPackages);
    }).then(this, [this](const QList<AndroidNotification>& list) { handleNotifications(list); });
}

void AndroidWindowSession::handleNotifications(const QList<AndroidNotification>& list) {
    m_pollingNotifications = false;
    ++m_handledPolls;
    const NotificationWatch::Outcome outcome = m_watch.handle(list);
    m_shadeModel->setShown(outcome.shown);
    if (outcome.announce && !m_closing) announce(*outcome.announce);
}

void AndroidWindowSession::announce(const AndroidNotification& notification) {
    VantleLog::main().write(u"notification package="_s + notification.package + u" title="_s +
                            VantleLog::escaped(notification.title.left(40)));
    // The message of a locked app never leaves Android.
    const bool isLocked = locked();
    const AndroidNotification shown =
        isLocked ? NotificationWatch::lockedStandIn(notification, m_setup.title) : notification;
    if (m_panel->isVisible() && !m_panel->isMinimized()) {
        if (!m_shade->isOpen()) m_banner->show(shown); // an open shade already lists it
        return;
    }
    if (onUnread) onUnread(m_setup.appID, true);
    if (!m_setup.notifier) return;
    if (isLocked) {
        m_setup.notifier->post(m_setup.title, QString(), shown.text, m_setup.appID);
    } else {
        const bool titled = !notification.title.isEmpty();
        m_setup.notifier->post(titled ? notification.title : m_setup.title,
                               titled ? m_setup.title : QString(), notification.text, m_setup.appID);
    }
}

void AndroidWindowSession::toggleShade() {
    if (m_shade->isOpen()) {
        m_shade->close();
        return;
    }
    m_banner->dismiss();
    m_shade->open();
    pollNotifications();
}
