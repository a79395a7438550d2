#pragma once

#include <QString>
#include <QUuid>
#include <optional>

// The one way to tell the user something on the desktop, outside Vantle's windows (a saved
// download, a backup). Implemented by `MacNotifier`; parts receive it from the application that
// owns it, and tests may hand them their own. GUI thread only; `post` returns at once.
class Notifier {
public:
    virtual ~Notifier() = default;
    // A click opens the app when `appID` is given, or reveals `file` when that is not empty.
    virtual void post(const QString& title, const QString& subtitle, const QString& body,
                      const std::optional<QUuid>& appID = std::nullopt, const QString& file = {}) = 0;
};
