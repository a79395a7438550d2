#pragma once

#include "ui/AppWindows.h"

#include <functional>

// AppWindows over the process's window registry. Showing goes through `showThroughLock`, which the
// application points at its app lock. Main thread only.
class RegistryAppWindows final : public AppWindows {
public:
    explicit RegistryAppWindows(std::function<void(const QUuid& appID)> showThroughLock);

    bool hasWindow(const QUuid& appID) const override;
    bool isVisible(const QUuid& appID) const override;
    void hide(const QUuid& appID) override;
    void show(const QUuid& appID) override;
    void close(const QUuid& appID) override;
    std::optional<QUuid> first() const override;
    void move(const QUuid& appID, QPoint topLeft) override;
    void setPendingAnchor(const QRectF& anchor) override;
    void showHomePopup() override;

private:
    std::function<void(const QUuid&)> m_showThroughLock;
};
