#pragma once

#include "ui/AppWindows.h"

#include <QSet>
#include <QStringList>

// App windows as a set of open and visible ids; every call is recorded ("hide <id>", "show <id>").
class RecordingAppWindows final : public AppWindows {
public:
    QSet<QUuid> open, visible;
    QList<QUuid> order; // first() is the first of these that is open
    QStringList calls;
    std::optional<QRectF> pendingAnchor;

    static QString name(const QUuid& id) { return id.toString(QUuid::WithoutBraces).left(8); }

    bool hasWindow(const QUuid& id) const override { return open.contains(id); }
    bool isVisible(const QUuid& id) const override { return visible.contains(id); }
    void hide(const QUuid& id) override {
        visible.remove(id);
        calls.append(QStringLiteral("hide ") + name(id));
    }
    void show(const QUuid& id) override {
        visible.insert(id);
        calls.append(QStringLiteral("show ") + name(id));
    }
    void close(const QUuid& id) override {
        open.remove(id);
        visible.remove(id);
        calls.append(QStringLiteral("close ") + name(id));
    }
    std::optional<QUuid> first() const override {
        for (const QUuid& id : order)
            if (open.contains(id)) return id;
        return std::nullopt;
    }
    void move(const QUuid& id, QPoint topLeft) override {
        calls.append(QStringLiteral("move %1 %2,%3").arg(name(id)).arg(topLeft.x()).arg(topLeft.y()));
    }
    void setPendingAnchor(const QRectF& anchor) override { pendingAnchor = anchor; }
    void showHomePopup() override { calls.append(QStringLiteral("home")); }
};
