#include "ui/VantleHotKey.h"

#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "ui/AppWindows.h"
#include "ui/LauncherActions.h"

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int appKeyCount = 9;
} // namespace

QString outcomeName(GlobalHotKeys::Outcome outcome) {
    switch (outcome) {
    case GlobalHotKeys::Outcome::registered:
        return u"registered"_s;
    case GlobalHotKeys::Outcome::taken:
        return u"taken"_s;
    case GlobalHotKeys::Outcome::unavailable:
        return u"unavailable"_s;
    case GlobalHotKeys::Outcome::failed:
        return u"failed"_s;
    case GlobalHotKeys::Outcome::pending:
        return u"pending"_s;
    }
    return {};
}

AppShortcuts::AppShortcuts(GlobalHotKeys& keys, AppLibraryStore& store, LauncherActions& actions,
                           AppWindows& windows)
    : m_keys(keys)
    , m_store(store)
    , m_actions(actions)
    , m_windows(windows) {
    EventCenter::shared().observe(SettingsKeys::appShortcuts.name, &m_followsSetting,
                                  [this](const QVariantMap&) { registerKeys(); });
}

void AppShortcuts::registerKeys() {
    unregisterKeys();
    if (!VantleSettings::get(SettingsKeys::appShortcuts)) return;
    if (const QString reason = m_keys.unavailableReason(); !reason.isEmpty()) {
        VantleLog::main().write(u"shortcuts: Alt+1-Alt+9 registered=0 ("_s + reason + u')');
        return;
    }
    for (int n = 1; n <= appKeyCount; ++n) {
        const int id = firstID + n - 1;
        const GlobalHotKeys::Result result = m_keys.add(id, Qt::Key(Qt::Key_0 + n), Qt::AltModifier,
                                                        u"Open app %1 of the Vantle library"_s.arg(n));
        if (result.outcome == GlobalHotKeys::Outcome::pending)
            m_pending.append(id);
        else
            record(id, result);
    }
    if (m_pending.isEmpty()) logCount();
}

void AppShortcuts::settle(int id, const GlobalHotKeys::Result& result) {
    const bool awaited = m_pending.removeOne(id);
    if (!awaited && !m_registered.removeOne(id)) return; // released before the answer came
    record(id, result);
    if (awaited && m_pending.isEmpty()) logCount();
}

void AppShortcuts::record(int id, const GlobalHotKeys::Result& result) {
    if (result.outcome == GlobalHotKeys::Outcome::registered) {
        m_registered.append(id);
        return;
    }
    const QString problem = u"Alt+%1: "_s.arg(id - firstID + 1) + result.detail;
    m_problems.append(problem);
    // Keys that became unavailable all at once are logged once, with the reason, by the dispatcher.
    if (result.outcome != GlobalHotKeys::Outcome::unavailable)
        VantleLog::main().write(u"shortcut not registered "_s + problem);
}

void AppShortcuts::logCount() const {
    VantleLog::main().write(u"shortcuts: Alt+1-Alt+9 registered="_s + QString::number(m_registered.size()));
}

void AppShortcuts::unregisterKeys() {
    for (const int id : std::as_const(m_registered) + std::as_const(m_pending))
        m_keys.remove(id);
    m_registered.clear();
    m_pending.clear();
    m_problems.clear();
}

void AppShortcuts::fire(int index) {
    const QList<MobileApp> ordered = m_store.orderedApps();
    if (index < 0 || index >= ordered.size()) return;
    const MobileApp& app = ordered[index];
    VantleLog::main().write(u"shortcut Alt+%1: "_s.arg(index + 1) + app.name);
    if (m_windows.isVisible(app.id))
        m_windows.hide(app.id);
    else
        m_actions.launch(app);
}

VantleHotKey::VantleHotKey(GlobalHotKeys& keys, AppShortcuts& shortcuts, AppWindows& windows)
    : m_keys(keys)
    , m_shortcuts(shortcuts)
    , m_windows(windows) {
    m_keys.onPressed = [this](int id) { dispatch(id); };
    m_keys.onSettled = [this](int id, const GlobalHotKeys::Result& result) { settle(id, result); };
    EventCenter::shared().observe(SettingsKeys::hotKey.name, &m_followsSetting,
                                  [this](const QVariantMap&) { registerKey(); });
}

void VantleHotKey::registerKey() {
    m_keys.remove(hotKeyID);
    m_registered = m_pending = false;
    if (!VantleSettings::flag(SettingsKeys::hotKey.key(), true)) return;
    if (const QString reason = m_keys.unavailableReason(); !reason.isEmpty()) {
        logUnavailable(reason);
        return;
    }
    const GlobalHotKeys::Result result =
        m_keys.add(hotKeyID, Qt::Key_Space, Qt::AltModifier, u"Show or hide Vantle"_s);
    m_pending = result.outcome == GlobalHotKeys::Outcome::pending;
    if (!m_pending) logStatus(result);
}

void VantleHotKey::settle(int id, const GlobalHotKeys::Result& result) {
    if (result.outcome == GlobalHotKeys::Outcome::unavailable) logUnavailable(result.detail);
    if (id >= AppShortcuts::firstID && id < AppShortcuts::firstID + appKeyCount) {
        m_shortcuts.settle(id, result);
        return;
    }
    if (id != hotKeyID || (!m_pending && !m_registered)) return; // released before the answer came
    m_pending = false;
    if (result.outcome == GlobalHotKeys::Outcome::unavailable)
        m_registered = false;
    else
        logStatus(result);
}

void VantleHotKey::logStatus(const GlobalHotKeys::Result& result) {
    m_registered = result.outcome == GlobalHotKeys::Outcome::registered;
    VantleLog::main().write(u"hotkey Alt+Space register status="_s + outcomeName(result.outcome) +
                            (result.detail.isEmpty() ? QString() : u" ("_s + result.detail + u')'));
}

void VantleHotKey::logUnavailable(const QString& reason) {
    if (!m_unavailableLogged) VantleLog::main().write(u"hotkeys unavailable: "_s + reason);
    m_unavailableLogged = true;
}

void VantleHotKey::dispatch(int id) {
    if (id >= AppShortcuts::firstID && id < AppShortcuts::firstID + appKeyCount) {
        m_shortcuts.fire(id - AppShortcuts::firstID);
        return;
    }
    VantleLog::main().write(u"hotkey pressed"_s);
    if (const std::optional<QUuid> first = m_windows.first()) {
        if (m_windows.isVisible(*first))
            m_windows.hide(*first);
        else
            m_windows.show(*first);
        return;
    }
    m_windows.showHomePopup();
}
