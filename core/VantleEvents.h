#pragma once

#include <QLatin1StringView>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// Names of the in-process events by which parts of Vantle tell each other what changed.
namespace VantleEvent {
using namespace Qt::Literals::StringLiterals;
inline constexpr QLatin1StringView sessionsChanged = "Vantle.sessionsChanged"_L1;
inline constexpr QLatin1StringView unreadChanged = "Vantle.unreadChanged"_L1;
inline constexpr QLatin1StringView runtimeChanged = "Vantle.runtimeChanged"_L1;
inline constexpr QLatin1StringView mediaChanged = "Vantle.mediaChanged"_L1;
inline constexpr QLatin1StringView openAppRequest = "Vantle.openAppRequest"_L1; // user info "id": entry UUID
inline constexpr QLatin1StringView showSettingsPage = "VantleShowSettingsPage"_L1;
} // namespace VantleEvent

// The in-process notification centre. Events may be posted from any thread; observers always run
// on their context object's thread (the main thread), synchronously when posted there, queued
// otherwise. An observation ends when its context object is destroyed.
class EventCenter final : public QObject {
    Q_OBJECT
public:
    using Observer = std::function<void(const QVariantMap& userInfo)>;

    static EventCenter& shared();

    void post(QLatin1StringView name, const QVariantMap& userInfo = {});
    void observe(QLatin1StringView name, QObject* context, Observer observer);

Q_SIGNALS:
    void posted(const QString& name, const QVariantMap& userInfo);
};
