#include "core/VantleEvents.h"

EventCenter& EventCenter::shared() {
    static EventCenter center;
    return center;
}

void EventCenter::post(QLatin1StringView name, const QVariantMap& userInfo) { Q_EMIT posted(QString(name), userInfo); }

void EventCenter::observe(QLatin1StringView name, QObject* context, Observer observer) {
    connect(this, &EventCenter::posted, context,
            [wanted = QString(name), observer = std::move(observer)](const QString& posted, const QVariantMap& info) {
                if (posted == wanted) observer(info);
            });
}
