#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

// The desktop's notification service. On Linux the freedesktop notification service on the
// session bus, whose "default" action is a click on the notification; there is no permission to
// ask for. GUI thread only: a post returns at once and reports on this thread.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    struct Content {
        QString title;
        QString subtitle; // may be empty
        QString body;
        QString group;        // notifications about one app share it (may be empty)
        QVariantMap userInfo; // handed back to `onClicked`
    };
    // Nothing when the service took the notification, else why it did not.
    using Posted = std::function<void(std::optional<QString> error)>;

    static std::unique_ptr<DesktopNotifications> create();
    ~DesktopNotifications() override = default;

    // Texts are plain text: whatever the service would read as markup is escaped.
    virtual void post(const Content& content, Posted done) = 0;

    // The user clicked a notification posted through this object.
    std::function<void(const QVariantMap& userInfo)> onClicked;

    // The fallback when the service refuses: the desktop's command-line notifier, started with an
    // argument list (never a shell) and not waited for. False when it could not be started.
    static bool postWithCommand(const QString& title, const QString& subtitle, const QString& body);
    // The argument list of that command (without the program), texts escaped as it needs them.
    static QStringList commandArguments(const QString& title, const QString& subtitle, const QString& body);

protected:
    DesktopNotifications() = default;
};
