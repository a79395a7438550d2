#include "integrations/MacNotifier.h"

#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "platform/FileReveal.h"

using namespace Qt::StringLiterals;

MacNotifier::MacNotifier(std::unique_ptr<DesktopNotifications> center, QObject* parent)
    : QObject(parent)
    , m_center(std::move(center)) {
    m_center->onClicked = &MacNotifier::clicked;
}

void MacNotifier::post(const QString& title, const QString& subtitle, const QString& body,
                       const std::optional<QUuid>& appID, const QString& file) {
    if (!VantleSettings::get(SettingsKeys::desktopNotifications)) return;
    DesktopNotifications::Content content{title, subtitle, body, {}, {}};
    if (appID) {
        content.group = appID->toString(QUuid::WithoutBraces);
        content.userInfo.insert(u"appID"_s, content.group);
    }
    if (!file.isEmpty()) content.userInfo.insert(u"file"_s, file);
    // Titles come from Android apps: escaped, so that none can forge a log line.
    m_center->post(content, [title, subtitle, body](std::optional<QString> error) {
        if (!error) {
            VantleLog::main().write(u"mac notification posted: "_s + VantleLog::escaped(title));
            return;
        }
        VantleLog::main().write(u"mac notification failed: "_s + VantleLog::escaped(*error) +
                                u" - using fallback"_s);
        (void)DesktopNotifications::postWithCommand(title, subtitle, body); // may fail silently
    });
}

void MacNotifier::clicked(const QVariantMap& userInfo) {
    if (const QString file = userInfo.value(u"file"_s).toString(); !file.isEmpty()) {
        revealInFileManager(file);
    } else if (const QString appID = userInfo.value(u"appID"_s).toString(); !appID.isEmpty()) {
        EventCenter::shared().post(VantleEvent::openAppRequest, {{u"id"_s, appID}});
    }
}
