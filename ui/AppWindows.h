#pragma once

#include <QPoint>
#include <QRectF>
#include <QUuid>
#include <optional>

// What the tray items and the global shortcuts ask of the open app windows. The application
// implements it over the window registry and the app lock (`RegistryAppWindows`); tests use a
// recording double. Main thread only.
class AppWindows {
public:
    virtual ~AppWindows() = default;

    virtual bool hasWindow(const QUuid& appID) const = 0;
    virtual bool isVisible(const QUuid& appID) const = 0;
    virtual void hide(const QUuid& appID) = 0;
    // Shows the app's open window through the app lock (at once when the app is not locked).
    virtual void show(const QUuid& appID) = 0;
    virtual void close(const QUuid& appID) = 0;
    // The app of the first open window, if any.
    virtual std::optional<QUuid> first() const = 0;
    virtual void move(const QUuid& appID, QPoint topLeft) = 0;
    // Where the next window that opens goes: its top-left corner and width (height 0).
    virtual void setPendingAnchor(const QRectF& anchor) = 0;
    // The home panel, at its usual place.
    virtual void showHomePopup() = 0;
};
