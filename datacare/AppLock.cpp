#include "datacare/AppLock.h"

#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "datacare/DeviceOwnerAuthenticator.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {
bool windowShown(const AndroidWindowSession* session) {
    return session && !session->isClosing() && session->panel()->isVisible();
}

// An entry made of what a window knows of its app: enough for the lock's texts and ids.
MobileApp appOfWindow(const QUuid& id, const QString& title) {
    MobileApp app;
    app.id = id;
    app.name = title;
    return app;
}
} // namespace

AppLock::AppLock(DeviceOwnerAuthenticator& authenticator, Seams seams, QObject* parent)
    : QObject(parent)
    , m_authenticator(authenticator)
    , m_seams(std::move(seams)) {
    m_clock.start();
    if (!m_seams.nowMs) m_seams.nowMs = [this] { return m_clock.elapsed(); };
    AndroidWindowRegistry::shared().setAppLock(
        {[](const QUuid& id) { return isLocked(id); }, [this](const QUuid& id) { windowLeft(id); },
         [this](const QUuid& id, const QString& title) { toggle(appOfWindow(id, title)); }});
}

AppLock::~AppLock() {
    AndroidWindowRegistry::shared().setAppLock({});
}

QSet<QUuid> AppLock::lockedIDs() {
    QSet<QUuid> ids;
    for (const QVariant& entry : VantleSettings::get(SettingsKeys::lockedApps)) {
        if (entry.typeId() != QMetaType::QString) continue;
        const QUuid id = QUuid::fromString(entry.toString());
        if (!id.isNull()) ids.insert(id);
    }
    return ids;
}

bool AppLock::needsUnlock(const QUuid& id) const {
    if (!isLocked(id)) return false;
    if (windowShown(AndroidWindowRegistry::shared().session(id))) return false; // open in front of the user
    const auto seen = m_lastSeen.constFind(id);
    return seen == m_lastSeen.cend() || m_seams.nowMs() - *seen > gracePeriodMs;
}

void AppLock::unlockIfNeeded(const MobileApp& app, std::function<void()> then) {
    if (!needsUnlock(app.id)) {
        then();
        return;
    }
    const QPointer<AppLock> alive(this);
    authenticate(u"open "_s + app.displayName(), [this, alive, id = app.id, then](bool success) {
        if (!alive || !success) return;
        m_lastSeen.insert(id, m_seams.nowMs());
        then();
    });
}

void AppLock::show(const QUuid& appID) {
    AndroidWindowSession* session = AndroidWindowRegistry::shared().session(appID);
    if (!session) return;
    unlockIfNeeded(appOfWindow(appID, session->title()), [appID] {
        // The window as it is now: it may have closed while the prompt was open.
        AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
        if (AndroidWindowSession* current = registry.session(appID)) {
            registry.setUnread(appID, false);
            current->bringToFront();
        }
    });
}

void AppLock::toggle(const MobileApp& app) {
    const bool locked = isLocked(app.id);
    const QString name = app.displayName();
    const QPointer<AppLock> alive(this);
    authenticate(locked ? u"remove the lock from "_s + name : u"lock "_s + name, [this, alive, id = app.id,
                                                                                  name](bool success) {
        if (!alive || !success) return;
        // The set as it is now, not as it was when the prompt opened.
        QSet<QUuid> ids = lockedIDs();
        if (ids.contains(id)) {
            ids.remove(id);
            storeLocked(ids);
            VantleLog::main().write(u"app lock: "_s + VantleLog::escaped(name) + u" lock removed"_s);
        } else {
            ids.insert(id);
            storeLocked(ids);
            m_lastSeen.insert(id, m_seams.nowMs()); // opening it right away asks no more
            VantleLog::main().write(u"app lock: "_s + VantleLog::escaped(name) + u" locked"_s);
        }
    });
}

void AppLock::storeLocked(const QSet<QUuid>& ids) {
    QStringList sorted;
    for (const QUuid& id : ids)
        sorted.append(id.toString(QUuid::WithoutBraces).toUpper());
    sorted.sort();
    const SettingsWrite written = VantleSettings::set(SettingsKeys::lockedApps, QVariant(sorted).toList());
    if (!written) VantleLog::main().write(u"app lock: not saved: "_s + written.error);
    Q_EMIT lockedIDsChanged();
    EventCenter::shared().post(VantleEvent::sessionsChanged);
}

void AppLock::windowLeft(const QUuid& appID) {
    if (isLocked(appID)) m_lastSeen.insert(appID, m_seams.nowMs());
}

void AppLock::authenticate(const QString& reason, std::function<void(bool success)> then) {
    VantleLog::main().write(u"app lock: asking for the password to "_s + VantleLog::escaped(reason));
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    const std::optional<QRectF> popupFrame = registry.menuBarPopupFrame();
    if (popupFrame) registry.closeMenuBarPopup();
    QTimer::singleShot(promptDelayMs, this, [this, reason, popupFrame, then = std::move(then)] {
        evaluate(reason, popupFrame, then);
    });
}

void AppLock::evaluate(const QString& reason, std::optional<QRectF> popupFrame,
                       std::function<void(bool)> then) {
    if (const std::optional<QString> unavailable = m_authenticator.unavailableReason()) {
        VantleLog::main().write(u"app lock: authentication unavailable "_s + *unavailable);
        finished(false, popupFrame, then);
        return;
    }
    const QPointer<AppLock> alive(this);
    m_authenticator.evaluate(reason, [this, alive, popupFrame, then](bool success, const QString& error) {
        if (!alive) return;
        VantleLog::main().write(success ? u"app lock: unlocked"_s
                                        : u"app lock: not unlocked ("_s +
                                              (error.isEmpty() ? u"cancelled"_s : error) + u')');
        finished(success, popupFrame, then);
    });
}

void AppLock::finished(bool success, std::optional<QRectF> popupFrame,
                       const std::function<void(bool)>& then) {
    // The popup comes back where it was unless an app window took its place.
    const QList<AndroidWindowSession*> sessions = AndroidWindowRegistry::shared().sessions();
    if (popupFrame && std::none_of(sessions.cbegin(), sessions.cend(), windowShown))
        AndroidWindowRegistry::shared().showMenuBarPopup(popupFrame);
    then(success);
}
