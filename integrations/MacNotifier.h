#pragma once

#include "integrations/Notifier.h"
#include "platform/DesktopNotifications.h"

#include <QObject>
#include <memory>

// Desktop notifications ("VantleMacNotifications"): posts through the desktop's notification
// service, falls back to the command-line notifier when the service refuses, and turns a click into
// revealing the file or the open-app request ("Vantle.openAppRequest"). Created once by the
// application on the GUI thread and handed to the parts that post.
class MacNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    explicit MacNotifier(std::unique_ptr<DesktopNotifications> center, QObject* parent = nullptr);

    void post(const QString& title, const QString& subtitle, const QString& body,
              const std::optional<QUuid>& appID = std::nullopt, const QString& file = {}) override;

    // What a click on a notification with this user info does.
    static void clicked(const QVariantMap& userInfo);

private:
    std::unique_ptr<DesktopNotifications> m_center;
};
