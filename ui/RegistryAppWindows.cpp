#include "ui/RegistryAppWindows.h"

#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

using namespace Qt::Literals::StringLiterals;

namespace {
AndroidWindowSession* sessionOf(const QUuid& appID) {
    return AndroidWindowRegistry::shared().session(appID);
}
} // namespace

RegistryAppWindows::RegistryAppWindows(std::function<void(const QUuid&)> showThroughLock)
    : m_showThroughLock(std::move(showThroughLock)) {}

bool RegistryAppWindows::hasWindow(const QUuid& appID) const {
    return sessionOf(appID) != nullptr;
}

bool RegistryAppWindows::isVisible(const QUuid& appID) const {
    const AndroidWindowSession* session = sessionOf(appID);
    return session && session->panel() && session->panel()->isVisible();
}

void RegistryAppWindows::hide(const QUuid& appID) {
    if (AndroidWindowSession* session = sessionOf(appID)) session->hide();
}

void RegistryAppWindows::show(const QUuid& appID) {
    if (m_showThroughLock)
        m_showThroughLock(appID);
    else
        AndroidWindowRegistry::shared().bringForward(appID);
}

void RegistryAppWindows::close(const QUuid& appID) {
    if (AndroidWindowSession* session = sessionOf(appID)) session->close(u"closed from the tray"_s);
}

std::optional<QUuid> RegistryAppWindows::first() const {
    for (const AndroidWindowSession* session : AndroidWindowRegistry::shared().sessions())
        if (!session->isClosing()) return session->appID();
    return std::nullopt;
}

void RegistryAppWindows::move(const QUuid& appID, QPoint topLeft) {
    if (AndroidWindowSession* session = sessionOf(appID); session && session->panel())
        session->panel()->move(topLeft);
}

void RegistryAppWindows::setPendingAnchor(const QRectF& anchor) {
    AndroidWindowRegistry::shared().setPendingAnchor(anchor);
}

void RegistryAppWindows::showHomePopup() {
    AndroidWindowRegistry::shared().showMenuBarPopup(std::nullopt);
}
