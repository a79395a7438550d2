#include "platform/DesktopNotifications.h"
#include "platform/DetachedProcess.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

// Linux: org.freedesktop.Notifications (the Desktop Notifications Specification 1.2) on the
// session bus, and notify-send as the fallback.
namespace {

const QString service = u"org.freedesktop.Notifications"_s;
const QString objectPath = u"/org/freedesktop/Notifications"_s;
const QString desktopEntry = u"app.vantle.Vantle"_s;

// Pango markup, which services announcing "body-markup" parse in the body.
QString markupEscaped(const QString& text) {
    QString escaped = text;
    escaped.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    return escaped;
}

// The service has no subtitle: it becomes the body's first line.
QString joinedBody(const QString& subtitle, const QString& body) {
    return subtitle.isEmpty() ? body : subtitle + u'\n' + body;
}

class FreedesktopNotifications final : public DesktopNotifications {
    Q_OBJECT
public:
    FreedesktopNotifications() {
        m_bus.connect(service, objectPath, service, u"ActionInvoked"_s, this,
                      SLOT(actionInvoked(uint, QString)));
        m_bus.connect(service, objectPath, service, u"NotificationClosed"_s, this, SLOT(closed(uint, uint)));
    }

    void post(const Content& content, Posted done) override {
        if (!m_bus.isConnected()) {
            done(u"no session bus: "_s + m_bus.lastError().message());
            return;
        }
        if (m_bodyMarkup) {
            notify(content, std::move(done));
            return;
        }
        // The capabilities decide whether the body needs escaping; asked once, without blocking.
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(QDBusMessage::createMethodCall(
                                                        service, objectPath, service, u"GetCapabilities"_s)),
                                                    this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, content, done = std::move(done)](QDBusPendingCallWatcher* call) mutable {
                    call->deleteLater();
                    const QDBusPendingReply<QStringList> reply = *call;
                    if (reply.isError()) {
                        done(reply.error().message());
                        return;
                    }
                    m_bodyMarkup = reply.value().contains(u"body-markup"_s);
                    notify(content, std::move(done));
                });
    }

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action) {
        const auto posted = m_posted.constFind(id);
        if (posted == m_posted.cend() || action != u"default"_s) return;
        const QVariantMap userInfo = *posted;
        if (onClicked) onClicked(userInfo);
    }
    void closed(uint id, uint /*reason*/) { m_posted.remove(id); }

private:
    void notify(const Content& content, Posted done) {
        const QString body = joinedBody(content.subtitle, content.body);
        QVariantMap hints{{u"desktop-entry"_s, desktopEntry}};
        if (!content.group.isEmpty()) hints.insert(u"x-vantle-group"_s, content.group);
        QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, service, u"Notify"_s);
        call << u"Vantle"_s << 0u << desktopEntry << content.title
             << (*m_bodyMarkup ? markupEscaped(body) : body) << QStringList{u"default"_s, u"Open"_s} << hints
             << -1;
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, userInfo = content.userInfo, done = std::move(done)](QDBusPendingCallWatcher* reply) {
                    reply->deleteLater();
                    const QDBusPendingReply<uint> id = *reply;
                    if (id.isError()) {
                        done(id.error().message());
                        return;
                    }
                    m_posted.insert(id.value(), userInfo);
                    done(std::nullopt);
                });
    }

    QDBusConnection m_bus = QDBusConnection::sessionBus();
    std::optional<bool> m_bodyMarkup;  // the service's "body-markup" capability, once known
    QHash<uint, QVariantMap> m_posted; // until the service says the notification closed
};

} // namespace

std::unique_ptr<DesktopNotifications> DesktopNotifications::create() {
    return std::make_unique<FreedesktopNotifications>();
}

QStringList DesktopNotifications::commandArguments(const QString& title, const QString& subtitle,
                                                   const QString& body) {
    // notify-send reads backslash escapes in the body (not in the summary), and the service may
    // read the body as markup: both are escaped so that the text arrives as it was. "--" keeps a
    // title that starts with "-" from reading as an option.
    QString text = joinedBody(subtitle, body);
    text.replace(u'\\', u"\\\\"_s);
    return {u"--app-name=Vantle"_s, u"--icon="_s + desktopEntry, u"--"_s, title, markupEscaped(text)};
}

bool DesktopNotifications::postWithCommand(const QString& title, const QString& subtitle,
                                           const QString& body) {
    const QString program = QStandardPaths::findExecutable(u"notify-send"_s);
    if (program.isEmpty()) return false;
    return DetachedProcess::start(program, commandArguments(title, subtitle, body),
                                  QProcessEnvironment::systemEnvironment())
        .pid.has_value();
}

#include "FreedesktopNotifications.moc"
