#include "platform/linux/PortalHotKeys.h"

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QTimer>

// Linux without X11: org.freedesktop.portal.GlobalShortcuts on the session bus. Every call answers
// at once with the path of a Request object; the real answer is that object's Response signal,
// which may come much later (the desktop may show the user a dialog), so nothing here waits.
//
//   CreateSession({handle_token, session_handle_token}) -> Response(0, {session_handle})
//   BindShortcuts(session, [(id, {description, preferred_trigger})], "", {handle_token})
//                                                        -> Response(0, {shortcuts: [(id, {...})]})
//   Activated(session, id, timestamp, {})                   a bound key was pressed
//   org.freedesktop.portal.Session.Close()                  ends the session and its keys
//
// The shortcuts of a session can be bound once: version 1 of the interface, the one
// xdg-desktop-portal 1.16 (Debian 12) offers, has no way to change or drop a bound shortcut
// (ConfigureShortcuts, version 2, only opens the desktop's own settings). So every change of the
// set of keys closes the session and binds the whole remaining set in a new one; the adds and
// removes of one turn of the event loop make one such bind, so the desktop asks the user once.
using namespace Qt::Literals::StringLiterals;

namespace {

const QString portalService = u"org.freedesktop.portal.Desktop"_s;
const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
const QString shortcutsInterface = u"org.freedesktop.portal.GlobalShortcuts"_s;
const QString requestInterface = u"org.freedesktop.portal.Request"_s;
const QString sessionInterface = u"org.freedesktop.portal.Session"_s;
constexpr int probeTimeoutMs = 3000;

// One element of the a(sa{sv}) arrays of BindShortcuts and its answer.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace {

// The trigger in the freedesktop shortcuts notation: modifiers, then the xkb keysym name.
std::optional<QString> trigger(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QString name;
    if (key == Qt::Key_Space)
        name = u"space"_s;
    else if (key >= Qt::Key_0 && key <= Qt::Key_9)
        name = QChar(char16_t(key));
    else if (key >= Qt::Key_A && key <= Qt::Key_Z)
        name = QChar(char16_t(key - Qt::Key_A + 'a'));
    else
        return std::nullopt;
    QString prefix;
    if (modifiers & Qt::ControlModifier) prefix += u"CTRL+"_s;
    if (modifiers & Qt::AltModifier) prefix += u"ALT+"_s;
    if (modifiers & Qt::ShiftModifier) prefix += u"SHIFT+"_s;
    if (modifiers & Qt::MetaModifier) prefix += u"LOGO+"_s;
    return prefix + name;
}

// The Response codes of a Request in words (1: the user cancelled, 2: anything else).
QString refusal(uint response, const QString& what) {
    return response == 1 ? u"the desktop's dialog to "_s + what + u" was cancelled"_s
                         : u"the desktop could not "_s + what + u" (response %1)"_s.arg(response);
}

// The session handle arrives as an object path, or (xdg-desktop-portal up to 1.18) as a string.
QString pathIn(const QVariant& value) {
    return value.canConvert<QDBusObjectPath>() && value.typeId() == qMetaTypeId<QDBusObjectPath>()
               ? value.value<QDBusObjectPath>().path()
               : value.toString();
}

class PortalHotKeys final : public QObject, public GlobalHotKeys, protected QDBusContext {
    Q_OBJECT
public:
    explicit PortalHotKeys(const QDBusConnection& bus)
        : m_bus(bus)
        , m_portalWatcher(portalService, bus, QDBusServiceWatcher::WatchForUnregistration) {
        QString sender = m_bus.baseService().mid(1);
        sender.replace(u'.', u'_');
        m_requestPrefix = portalPath + u"/request/"_s + sender + u'/';
        m_bus.connect(portalService, portalPath, shortcutsInterface, u"Activated"_s, this,
                      SLOT(activated(QDBusMessage)));
        connect(&m_portalWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] { portalLost(); });
    }
    ~PortalHotKeys() override {
        discardRequests();
        closeSession();
    }
    PortalHotKeys(const PortalHotKeys&) = delete;
    PortalHotKeys& operator=(const PortalHotKeys&) = delete;

    Result add(int id, Qt::Key key, Qt::KeyboardModifiers modifiers, const QString& description) override {
        if (!m_reason.isEmpty()) return {Outcome::unavailable, m_reason};
        const std::optional<QString> wanted = trigger(key, modifiers);
        if (!wanted) {
            remove(id);
            return {Outcome::failed, u"the keyboard has no such key"_s};
        }
        m_keys.insert(id, Key{*wanted, description, true, false});
        scheduleBind();
        return {Outcome::pending, {}};
    }

    void remove(int id) override {
        if (m_keys.remove(id) > 0) scheduleBind();
    }

    QString unavailableReason() const override { return m_reason; }

private Q_SLOTS:
    void requestAnswered(uint response, const QVariantMap& results) {
        const auto request = m_requests.constFind(message().path());
        if (request == m_requests.cend()) return;
        const Step step = *request;
        forget(request.key());
        if (step == Step::createSession) {
            sessionCreated(response, results);
        } else {
            shortcutsBound(response, results);
        }
    }

    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
    void activated(const QDBusMessage& signal) {
        const QVariantList arguments = signal.arguments();
        if (arguments.size() < 2 || arguments[0].value<QDBusObjectPath>().path() != m_session) return;
        const QString shortcutID = arguments[1].toString();
        for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it) {
            if (!it->bound || portalID(it.key()) != shortcutID) continue;
            if (onPressed) onPressed(it.key());
            return;
        }
    }

private:
    struct Key {
        QString trigger;
        QString description;
        bool awaited; // added, and its answer not reported yet; else held until the last rebind
        bool bound;   // the current session holds it
    };
    enum class Step { createSession, bindShortcuts };

    static QString portalID(int id) { return u"vantle-key-%1"_s.arg(id); }

    void scheduleBind() {
        if (m_bindQueued) return;
        m_bindQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_bindQueued = false;
            rebind();
        });
    }

    // A new session for the current set of keys; the old session and every question still open
    // are dropped (a dialog the desktop still shows for them goes away with its Request).
    void rebind() {
        discardRequests();
        closeSession();
        for (Key& key : m_keys)
            key.bound = false;
        if (m_keys.isEmpty() || !m_reason.isEmpty()) return;
        const QString token = nextToken();
        ask(Step::createSession, u"CreateSession"_s, token,
            {QVariantMap{{u"handle_token"_s, token}, {u"session_handle_token"_s, nextToken()}}});
    }

    void sessionCreated(uint response, const QVariantMap& results) {
        const QString session = pathIn(results.value(u"session_handle"_s));
        if (response != 0 || session.isEmpty()) {
            if (response == 0) response = 2;
            settleAll({Outcome::failed, refusal(response, u"create a shortcuts session"_s)});
            return;
        }
        m_session = session;
        QList<PortalShortcut> shortcuts;
        for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it)
            shortcuts.append({portalID(it.key()),
                              {{u"description"_s, it->description}, {u"preferred_trigger"_s, it->trigger}}});
        const QString token = nextToken();
        ask(Step::bindShortcuts, u"BindShortcuts"_s, token,
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
             QVariantMap{{u"handle_token"_s, token}}});
    }

    void shortcutsBound(uint response, const QVariantMap& results) {
        if (response != 0) {
            settleAll({Outcome::failed, refusal(response, u"bind the shortcuts"_s)});
            return;
        }
        QHash<QString, QString> triggers; // the desktop's description of each key it bound
        const QList<PortalShortcut> bound =
            qdbus_cast<QList<PortalShortcut>>(results.value(u"shortcuts"_s).value<QDBusArgument>());
        for (const PortalShortcut& shortcut : bound)
            triggers.insert(shortcut.id, shortcut.properties.value(u"trigger_description"_s).toString());
        // Reported once the keys are in order: a receiver may add or remove keys at once.
        QList<std::pair<int, Result>> answers;
        for (auto it = m_keys.begin(); it != m_keys.end();) {
            const auto granted = triggers.constFind(portalID(it.key()));
            if (granted == triggers.cend()) {
                // Not held, whether asked for now or held before this rebind: said, and dropped.
                answers.append({it.key(), {Outcome::failed, u"the desktop did not bind it"_s}});
                it = m_keys.erase(it);
                continue;
            }
            if (it->awaited) answers.append({it.key(), {Outcome::registered, *granted}});
            it->awaited = false;
            it->bound = true;
            ++it;
        }
        for (const auto& [id, result] : std::as_const(answers))
            report(id, result);
    }

    // No key is held any more: each is told `result` (the ones asked for and the ones held before).
    void settleAll(const Result& result) {
        const QList<int> ids = m_keys.keys();
        m_keys.clear();
        for (const int id : ids)
            report(id, result);
    }

    void report(int id, const Result& result) {
        if (onSettled) onSettled(id, result);
    }

    void portalLost() {
        m_reason = u"Global shortcuts are not available: the desktop portal (org.freedesktop.portal.Desktop) "
                   u"left the session bus."_s;
        const QStringList open = m_requests.keys();
        for (const QString& request : open)
            forget(request);
        m_session.clear();
        settleAll({Outcome::unavailable, m_reason});
    }

    // Calls `method`, whose answer arrives as the Response of the Request named by `token`. The
    // signal is subscribed before the call, so that an answer given at once is not missed.
    void ask(Step step, const QString& method, const QString& token, const QVariantList& arguments) {
        const QString request = m_requestPrefix + token;
        subscribe(request);
        m_requests.insert(request, step);
        QDBusMessage call =
            QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
        call.setArguments(arguments);
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, request, method](QDBusPendingCallWatcher* w) {
                    w->deleteLater();
                    const QDBusPendingReply<QDBusObjectPath> reply = *w;
                    if (!m_requests.contains(request)) return; // dropped meanwhile
                    if (reply.isError()) {
                        forget(request);
                        settleAll({Outcome::failed, method + u" failed: "_s + reply.error().message()});
                    } else if (const QString path = reply.value().path(); path != request) {
                        // A portal older than the handle_token convention names the Request itself.
                        const Step step = m_requests.value(request);
                        forget(request);
                        subscribe(path);
                        m_requests.insert(path, step);
                    }
                });
    }

    void subscribe(const QString& request) {
        m_bus.connect(portalService, request, requestInterface, u"Response"_s, this,
                      SLOT(requestAnswered(uint, QVariantMap)));
    }

    void forget(const QString& request) {
        m_bus.disconnect(portalService, request, requestInterface, u"Response"_s, this,
                         SLOT(requestAnswered(uint, QVariantMap)));
        m_requests.remove(request);
    }

    // Closes the Requests still open. The portal closes a session whose CreateSession Request was
    // closed before the desktop answered, so no session is left behind unreported.
    void discardRequests() {
        const QStringList open = m_requests.keys();
        for (const QString& request : open) {
            forget(request);
            m_bus.send(QDBusMessage::createMethodCall(portalService, request, requestInterface, u"Close"_s));
        }
    }

    void closeSession() {
        if (m_session.isEmpty()) return;
        m_bus.send(QDBusMessage::createMethodCall(portalService, m_session, sessionInterface, u"Close"_s));
        m_session.clear();
    }

    QString nextToken() { return u"vantle%1"_s.arg(++m_tokens); }

    QDBusConnection m_bus;
    QDBusServiceWatcher m_portalWatcher;
    QString m_requestPrefix;         // the portal's Request objects for this connection: prefix + token
    QMap<int, Key> m_keys;           // every key added and not removed, in id order
    QHash<QString, Step> m_requests; // open Requests by object path
    QString m_session;               // the session holding the bound keys, empty when none
    QString m_reason;
    quint64 m_tokens = 0;
    bool m_bindQueued = false;
};

// Keys on a desktop whose portal offers no global shortcuts.
class UnavailableHotKeys final : public GlobalHotKeys {
public:
    explicit UnavailableHotKeys(QString reason)
        : m_reason(std::move(reason)) {}
    Result add(int, Qt::Key, Qt::KeyboardModifiers, const QString&) override {
        return {Outcome::unavailable, m_reason};
    }
    void remove(int) override {}
    QString unavailableReason() const override { return m_reason; }

private:
    QString m_reason;
};

} // namespace

std::unique_ptr<GlobalHotKeys> makePortalHotKeys(const QDBusConnection& bus) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // The version is the portal's own property, answered without the desktop behind it: this
    // short wait at start-up decides whether the General page says that keys are unavailable.
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath,
                                                       u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    call << shortcutsInterface << u"version"_s;
    const QDBusMessage reply = bus.call(call, QDBus::Block, probeTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) return std::make_unique<PortalHotKeys>(bus);
    return std::make_unique<UnavailableHotKeys>(
        u"Global shortcuts are not available: this desktop has no X11 session and its portal "
        u"offers no GlobalShortcuts interface."_s);
}

#include "PortalHotKeys.moc"
