#include "platform/DesktopAppearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>

// Linux: the XDG desktop portal's appearance setting, "org.freedesktop.appearance" "color-scheme"
// (0 no preference, 1 prefer dark, 2 prefer light), read over the session bus with the Settings
// interface's Read method, and its SettingChanged signal.
using namespace Qt::Literals::StringLiterals;

namespace {

const QString service = u"org.freedesktop.portal.Desktop"_s;
const QString path = u"/org/freedesktop/portal/desktop"_s;
const QString interface = u"org.freedesktop.portal.Settings"_s;
const QString appearanceNamespace = u"org.freedesktop.appearance"_s;
const QString colorSchemeKey = u"color-scheme"_s;
constexpr int portalTimeoutMs = 500;

// Read wraps the value in one variant more than the setting itself; unwrap all of them.
QVariant unwrapped(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.typeId() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

// Receives SettingChanged; one per observation, owned by the context object.
class PortalListener final : public QObject {
    Q_OBJECT
public:
    PortalListener(QObject* context, std::function<void()> changed)
        : QObject(context)
        , m_changed(std::move(changed)) {}

public Q_SLOTS:
    void settingChanged(const QString& settingNamespace, const QString& key, const QDBusVariant&) {
        if (settingNamespace == appearanceNamespace && key == colorSchemeKey) m_changed();
    }

private:
    std::function<void()> m_changed;
};

} // namespace

namespace DesktopAppearance {

std::optional<bool> prefersDark() {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, u"Read"_s);
    call << appearanceNamespace << colorSchemeKey;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, portalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    bool ok = false;
    const uint scheme = unwrapped(reply.arguments().first()).toUInt(&ok);
    if (!ok || scheme == 0) return std::nullopt;
    return scheme == 1;
}

void observe(QObject* context, std::function<void()> changed) {
    auto* listener = new PortalListener(context, std::move(changed));
    QDBusConnection::sessionBus().connect(service, path, interface, u"SettingChanged"_s, listener,
                                          SLOT(settingChanged(QString, QString, QDBusVariant)));
}

} // namespace DesktopAppearance

#include "DesktopAppearance.moc"
