#pragma once

#include "ui/AppWindows.h"

#include <QSet>
#include <QStringList>

// Open and visible windows as sets of app ids; each call is recorded ("hide <id>", "home").
class RecordingAppWindows final : public AppWindows {
public:
    QSet<QUuid> open, visible;
    QList<QUuid> order; // first() is the first of these that is open
    QStringList calls;
    std::optional<QRectF> pendingAnchor;

    static QString name(const QUuid& id) { return id.toString(QUuid::WithoutBraces).left(8); }
    void record(const QString& call, const QUuid& id) { calls.append(call + u' ' + name(id)); }

    bool hasWindow(const QUuid& id) const override { return open.contains(id); }
    bool isVisible(const QUuid& id) const override { return visible.contains(id); }
    void hide(const QUuid& id) override { visible.remove(id), record(QStringLiteral("hide"), id); }
    void show(const QUuid& id) override { visible.insert(id), record(QStringLiteral("show"), id); }
    void close(const QUuid& id) override { record(QStringLiteral("close"), id); }
    std::optional<QUuid> first() const override {
        for (const QUuid& id : order)
            if (open.contains(id)) return id;
        return std::nullopt;
    }
    void move(const QUuid& id, QPoint p) override {
        record(QStringLiteral("move %1,%2").arg(p.x()).arg(p.y()), id);
    }
    void setPendingAnchor(const QRectF& anchor) override { pendingAnchor = anchor; }
    void showHomePopup() override { calls.append(QStringLiteral("home")); }
};
